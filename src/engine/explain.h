// English for what the engine reports and finds, in the same words wherever
// it is shown: zelp's "zelp: " lines and the browser page.
#pragma once

#include <string>

#include "engine/diagnose.h"
#include "engine/foreign.h"

namespace zelp {

// What is wrong with a damaged patch, as a phrase ("it is cut short: ...");
// empty when it is whole.
std::u16string DamageText(const StreamCheck& check);

// What is wrong with an IPS, UPS or BPS patch, or with its application, as
// a phrase; empty for kNone.
std::u16string ForeignFaultText(const ForeignInfo& info, ForeignFault fault);

// DiagnosisText for such a patch: UPS and BPS name the size of the file
// they take, and a CRC-32 of 0 is an ordinary value there.
std::u16string ForeignDiagnosisText(const ForeignInfo& info, const Diagnosis& d,
                                    const std::u16string& target);

// The diagnosis of the file named `target` (as the user gave it), as lines
// that each end in "\n".
std::u16string DiagnosisText(const Diagnosis& d, const std::u16string& target);

// The English for one of the application procedure's reports, as a line
// ending in "\n"; empty for success and for any other text.
std::u16string ReportText(const std::u16string& report);

}  // namespace zelp
