// Short (8.3) forms of paths, for one more try when a long path is refused.
#pragma once

namespace zelp {

constexpr int kPathUnits = 260;

// The short form of the whole path into `out` (at least kPathUnits units);
// 1, or 0 with `out` empty. Every component must exist.
int FullShortPath(const char16_t* path, char16_t* out);
// The short form of the directory part, ending in '\'; 1, or 0 with `out`
// empty. The last component must exist too.
int DirShortPath(const char16_t* path, char16_t* out);

}  // namespace zelp
