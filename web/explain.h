// What the page says about an outcome, in English beside the program's own
// Chinese text, and why a file was refused.
#pragma once

#include <cstdint>
#include <string>

#include "file/xfile.h"

namespace zelp::web {

// The largest file the page holds in memory (1 GiB): the user's file, the
// patched result and the files a patch is made from.
constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

// The English for one of the engine's reports; empty for none known.
std::string Explain(const char16_t* message);

struct Diagnosis {
  std::string text;         // English lines, LF-separated
  bool notTheFile = false;  // the target is not the file the patch was made for
};

// Why applying the patch at `base` in `patch` to `target` failed with the
// engine's report `message`. Leaves both files' positions unspecified.
Diagnosis Diagnose(CKOVA_xFile& patch, uint64_t base, CKOVA_xFile& target,
                   const std::u16string& message);

}  // namespace zelp::web
