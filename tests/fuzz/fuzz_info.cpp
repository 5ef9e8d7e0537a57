// LoadPatchInfo over arbitrary bytes at an arbitrary patch base, compared
// with the plain reading of tests/support/reference_patch.h.
//
// Input: one selector byte, then (when its top bit is set) 8 bytes of patch
// base, then the bytes of the file that holds the patch. Without the top bit
// the base is the selector's low 7 bits.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/patch_stub.h"
#include "fuzz_common.h"
#include "support/mem_file.h"
#include "support/reference_patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t selector = data[0];
  ++data, --size;
  uint64_t base = selector & 0x7F;
  if (selector & 0x80) {
    if (size < 8) return 0;
    base = reference::LoadLe(data, 8);
    data += 8, size -= 8;
  }
  std::vector<uint8_t> holder(data, data + size);

  static CPatchStub* stub = new CPatchStub(0);  // large: made once
  stub->patchBase = base;
  MemFile file(holder);
  fuzz::Reports reports;
  int ok = stub->LoadPatchInfoFromFile(file);
  fuzz::Check(reports.texts.empty(), "LoadPatchInfo must not report");

  reference::Info want = reference::LoadInfo(holder, base);
  bool uncertain = false;
  if (holder.size() >= 16 && base <= holder.size() - 16)
    reference::JudgeIdent(&holder[base], uncertain);
  if (uncertain) return 0;
  fuzz::Check(ok == (want.ok ? 1 : 0), "result differs from the reference");
  if (!ok) return 0;
  fuzz::Check(stub->summary == want.summary, "summary", stub->summary);
  fuzz::Check(stub->info.description == want.description, "description", stub->info.description);
  fuzz::Check(stub->info.version == want.version, "version", stub->info.version);
  return 0;
}
