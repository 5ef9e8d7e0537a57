// What the page says about an outcome, in English beside the program's own
// Chinese text: the same words as zelp's `zelp: ` lines (src/cli), without
// that prefix.
#pragma once

#include <cstdint>
#include <string>

#include "engine/diagnose.h"

namespace zelp::web {

// The largest file the page holds in memory (1 GiB): the user's file, the
// patched result and the files a patch is made from.
constexpr int64_t kMaxFileBytes = int64_t{1} << 30;

// The English for one of the engine's reports; empty for none known.
std::string Explain(const char16_t* message);

// What is wrong with a damaged patch; empty when it is whole.
std::string ExplainDamage(const StreamCheck& check);

// The diagnosis of the file `target` (its name), one line per statement.
std::string ExplainDiagnosis(const Diagnosis& d, const std::string& target);

}  // namespace zelp::web
