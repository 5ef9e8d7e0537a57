// The stamped patch offset: where, in the Windows program's own file, the
// appended patch begins.
//
// It is an initialised 64-bit little-endian field in the program's data,
// placed directly after the 16-byte kStampMarker, which occurs nowhere else in
// the program. `zelp pack` finds the marker in the stub file (it must occur
// exactly once), writes the stub's length into the 8 bytes after it and
// appends the patch. A stub with nothing appended carries kNoPatch: it is
// negative as a position, so the first seek at start-up fails and the program
// reports "初始化失败".
#pragma once

#include <cstdint>

namespace zelp {

// inline: only code that searches for it holds a copy (a stub never does, even
// unoptimised).
inline constexpr unsigned char kStampMarker[16] = {'Z', 'E', 'L', 'P', '-', 'P',  'A',  'T',
                                                   'C', 'H', '-', 'A', 'T', 0x9E, 0x3C, 0xA7};
constexpr uint64_t kNoPatch = 0xFFFFFFFFFFFFFFFFull;

// The field's value, read through a volatile so it is never folded.
uint64_t StampedPatchOffset();

}  // namespace zelp
