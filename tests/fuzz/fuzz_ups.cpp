// The UPS reader: see fuzz_foreign.h.
#include "fuzz_foreign.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CheckForeign(zelp::PatchKind::kUps, data, size);
  return 0;
}
