// What the engine reports and finds, explained in the user's language, in
// the same words wherever it is shown: zelp's "zelp: " lines and the page.
#pragma once

#include <cstdint>
#include <string>

#include "common/language.h"
#include "engine/diagnose.h"
#include "engine/foreign.h"
#include "engine/outcome.h"

namespace zelp {

// The explanation of one outcome (engine/outcome_table.def).
const char16_t* Explanation(Outcome o, Language language);

// What is wrong with a damaged patch, as lines that each end in "\n": the
// damage, then where it lies when a field or record shows it; empty when
// the patch is whole.
std::u16string DamageText(const StreamCheck& check, Language language);

// What is wrong with an IPS, UPS or BPS patch, or with its application, as
// a phrase; empty for kNone.
std::u16string ForeignFaultText(const ForeignInfo& info, ForeignFault fault,
                                Language language = Language::kEnglish);

// "the IPS patch is damaged: " and the fault of `info` that says why.
std::u16string ForeignDamageText(const ForeignInfo& info, Language language);

// The fields of such a patch as `zelp info` shows them, one "name: value"
// line each: the format, the file it takes, the result, its steps.
std::u16string ForeignSummaryText(const ForeignInfo& info, Language language);

// DiagnosisText for such a patch: UPS and BPS name the size of the file
// they take, and a CRC-32 of 0 is an ordinary value there.
std::u16string ForeignDiagnosisText(const ForeignInfo& info, const Diagnosis& d,
                                    const std::u16string& target,
                                    Language language = Language::kEnglish);

// The diagnosis of the file named `target` (as the user gave it), as lines
// that each end in "\n".
std::u16string DiagnosisText(const Diagnosis& d, const std::u16string& target, Language language);

// The patch information's summary as one line: the version, the CRC-32 the
// file to patch must have (0: none) and the size after patching.
std::u16string SummaryLine(const char16_t* version, uint32_t crc, int64_t size, Language language);

// "; nothing was changed", said after a refusal that left the target alone.
const char16_t* UnchangedText(Language language);

}  // namespace zelp
