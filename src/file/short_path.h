// Short (8.3) forms of paths, for one more try when a long path is refused
// (Windows only: POSIX file systems have no short names).
#pragma once

namespace zelp {

constexpr int kPathUnits = 260;

#ifdef _WIN32
// The short form of the whole path into `out` (at least kPathUnits units);
// 1, or 0 with `out` empty. Every component must exist.
int FullShortPath(const char16_t* path, char16_t* out);
// The short form of the directory part, ending in '\'; 1, or 0 with `out`
// empty. The last component must exist too.
int DirShortPath(const char16_t* path, char16_t* out);

// The second name Open tries after file-not-found: the short form of the
// whole path for the modes that open an existing file; for mode 4 the short
// form of the directory followed by the path's own last component. 1, or 0
// with `out` empty when it cannot be built.
int FallbackPath(const char16_t* path, int mode, char16_t* out);
#endif

}  // namespace zelp
