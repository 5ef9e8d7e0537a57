// The whole application procedure over an in-memory patch and target.
// Invariants: exactly one report; after a failure the target is byte for byte
// what it was (size included); after success it equals what the plain
// applier of tests/support/reference_patch.h makes; the message is the one
// the reference expects.
//
// Input: 5 control bytes, then the bytes of the file that holds the patch.
//   [0] bits 2-7: patch base (0..63); bit 0: put the target's real CRC into
//       the header; bit 1: put a valid identification at the base
//   [1] the target's storage limit: 2^(8 + low 3 bits) bytes (a full disk),
//       at least the target's length
//   [2..3] the target's length (little-endian, modulo 4096)
//   [4] seed of the target's contents
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/patch_stub.h"
#include "fuzz_common.h"
#include "support/mem_file.h"
#include "support/reference_patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  uint64_t base = data[0] >> 2;
  bool fixCrc = data[0] & 1, fixIdent = data[0] & 2;
  int64_t limit = int64_t{1} << (8 + (data[1] & 7));
  size_t targetLen = (data[2] | data[3] << 8) % 4096;
  uint8_t seed = data[4];
  std::vector<uint8_t> holder(data + 5, data + size);
  if (limit < static_cast<int64_t>(targetLen))
    limit = static_cast<int64_t>(targetLen);  // it fits now

  std::vector<uint8_t> original(targetLen);
  for (size_t i = 0; i < targetLen; ++i)
    original[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 8));
  if (fixIdent && holder.size() >= base + 16) std::memcpy(&holder[base], "KOVA-PATCH3.0\0\0\0", 16);
  if (fixCrc && holder.size() >= base + 28) {
    uint32_t crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), original.data(), static_cast<uInt>(original.size())));
    for (int i = 0; i < 4; ++i) holder[base + 24 + i] = static_cast<uint8_t>(crc >> (8 * i));
  }

  static CPatchStub* stub = new CPatchStub(0);  // large: made once
  stub->patchBase = base;
  MemFile patch(holder), target(original);
  target.limit = limit;
  int ok;
  std::u16string got;
  {
    fuzz::Reports reports;
    ok = stub->ApplyOpened(patch, target, nullptr);
    fuzz::Check(reports.texts.size() == 1, "exactly one report per run");
    got = reports.texts[0];
  }
  fuzz::Check((ok == 1) == (got == u"补丁成功"), "result and report disagree", got);
  if (!ok) {
    fuzz::Check(target.data == original, "a failed run changed the target", got);
  }

  reference::Outcome want = reference::Apply(holder, base, original, limit);
  if (want.versionUncertain) return 0;
  fuzz::Check(got == want.message, "message differs from the reference",
              got + u" / " + want.message);
  if (ok) fuzz::Check(target.data == want.out, "patched bytes differ from the reference");
  return 0;
}
