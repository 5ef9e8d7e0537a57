// English for what the engine reports and finds, in the same words wherever
// it is shown: zelp's "zelp: " lines and the browser page.
#pragma once

#include <string>

#include "engine/diagnose.h"

namespace zelp {

// What is wrong with a damaged patch, as a phrase ("it is cut short: ...");
// empty when it is whole.
std::u16string DamageText(const StreamCheck& check);

// The diagnosis of the file named `target` (as the user gave it), as lines
// that each end in "\n".
std::u16string DiagnosisText(const Diagnosis& d, const std::u16string& target);

// The English for one of the application procedure's reports, as a line
// ending in "\n"; empty for success and for any other text.
std::u16string ReportText(const std::u16string& report);

}  // namespace zelp
