// The description text of a patch, from the author's UTF-8 file to what the
// program shows: UTF-16 with CR LF line breaks.
#pragma once

#include <string>

#include "common/words.h"

namespace zelp::author {

// The most units a reader takes (65,536 bytes); longer text would be cut.
constexpr size_t kMaxDescriptionUnits = 32768;

enum class DescriptionError { kNone, kInvalidUtf8, kInvalidUtf16, kNul, kTooLong };

// Converts UTF-8 bytes (a leading byte order mark is skipped) to UTF-16.
// LF and CR LF both become CR LF. Refuses malformed UTF-8, a NUL character
// (it would end the text early) and a result of more than
// kMaxDescriptionUnits units; `units` then holds the length it would have had.
DescriptionError DescriptionFromUtf8(const std::string& bytes, std::u16string& text, size_t& units);

// The same for a file's bytes: UTF-16 when they start with a byte order mark
// (FF FE little-endian, FE FF big-endian; an odd length or an unpaired
// surrogate is kInvalidUtf16), UTF-8 otherwise.
DescriptionError DescriptionFromBytes(const std::string& bytes, std::u16string& text,
                                      size_t& units);

// Why a description was refused, as zelp create and the page say it. `file`
// names the file it came from ("" for typed text); `units` as
// DescriptionFromBytes left it (0: too long to count).
Bilingual DescriptionErrorText(DescriptionError error, const std::u16string& file, size_t units);

}  // namespace zelp::author
