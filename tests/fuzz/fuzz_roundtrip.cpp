// zelp create's patch writer, then the application procedure: for any two
// files the patch written must turn the first into the second, through the
// engine and through the plain reference applier alike, and its header must
// read back.
//
// Input: 4 control bytes, then the bytes the two files are made of.
//   [0] bit 0: no CRC; bit 1: edit mode (below); bit 2: small record limits;
//       bit 3: a description; bits 4-7: comparison block size 2^(4 + n % 10)
//       (inputs stay under 8 KiB, so larger blocks would only cost time)
//   [1] small limits: maxData = 1 + low 6 bits
//   [2..3] the original's length (little-endian, modulo what there is)
// Whole mode: the original is the first bytes that follow, the modified file
// the rest. Edit mode: the modified file is the original changed by 4-byte
// edits (offset high, offset low, length, value), so that changed runs with
// short and long gaps between them are common.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "author/patch_writer.h"
#include "engine/patch_stub.h"
#include "fuzz_common.h"
#include "support/mem_file.h"
#include "support/reference_patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  uint8_t flags = data[0];
  size_t originalLen = static_cast<size_t>(data[2] | data[3] << 8);
  const uint8_t* rest = data + 4;
  size_t restLen = size - 4;
  if (originalLen > restLen) originalLen = restLen;
  std::vector<uint8_t> original(rest, rest + originalLen), modified;
  if (flags & 2) {
    modified = original;
    for (size_t i = originalLen; i + 4 <= restLen; i += 4) {
      size_t at = static_cast<size_t>(rest[i] << 8 | rest[i + 1]) % (originalLen + 64);
      size_t n = rest[i + 2] % 40;
      if (n == 0) continue;
      if (modified.size() < at + n) modified.resize(at + n, 0);
      std::memset(modified.data() + at, rest[i + 3], n);
    }
    // Sometimes shorter than the original: the patch cuts the target.
    if (restLen > originalLen && rest[originalLen] & 1 && !modified.empty())
      modified.resize(modified.size() - rest[originalLen] % (modified.size() + 1) / 2);
  } else {
    modified.assign(rest + originalLen, rest + restLen);
  }

  zelp::author::PatchOptions options;
  options.crc = !(flags & 1);
  options.blockSize = size_t{1} << (4 + (flags >> 4) % 10);
  // The smallest buffers: their refills are what the inputs can reach, and
  // megabyte buffers per run would cost most of the fuzzer's time.
  options.ioBuffer = 0;
  if (flags & 4) {
    options.limits.maxData = 1 + (data[1] & 63);
    options.limits.maxRelative = options.limits.maxData + 6 + (data[1] >> 6) * 50;
  }
  if (flags & 8) {
    options.hasDescription = true;
    options.description = u"说明\r\nline 2";
  }
  MemFile originalFile(original), modifiedFile(modified), modifiedData(modified), out;
  zelp::author::PatchStats stats;
  auto status =
      zelp::author::WritePatch(originalFile, modifiedFile, modifiedData, out, options, stats);
  fuzz::Check(status == zelp::author::PatchStatus::kOk, "the patch writer failed on memory files");
  fuzz::Check(stats.patchSize == out.data.size(), "patch size in the stats");
  fuzz::Check(stats.targetSize == static_cast<int64_t>(modified.size()),
              "target size in the stats");

  static CPatchStub* stub = new CPatchStub(0);  // large: made once
  stub->patchBase = 0;
  {
    MemFile patch(out.data);
    fuzz::Check(stub->LoadPatchInfoFromFile(patch) == 1, "the written header does not read back");
    if (options.hasDescription)
      fuzz::Check(options.description == stub->info.description, "description",
                  stub->info.description);
  }
  MemFile patch(out.data), target(original);
  std::u16string got;
  {
    fuzz::Reports reports;
    int ok = stub->ApplyOpened(patch, target, nullptr);
    fuzz::Check(reports.texts.size() == 1, "exactly one report per run");
    got = reports.texts[0];
    fuzz::Check(ok == 1, "the written patch does not apply", got);
  }
  fuzz::Check(target.data == modified, "applying does not give the modified file");
  reference::Outcome ref = reference::Apply(out.data, 0, original, int64_t{1} << 40);
  fuzz::Check(ref.message == u"补丁成功" && ref.out == modified, "the reference applier disagrees",
              ref.message);
  return 0;
}
