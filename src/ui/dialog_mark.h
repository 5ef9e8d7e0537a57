// The dialog program's own mark: 16 bytes that only the dialog program (and
// the native stand-in the tests pack) carries. The patch stamp alone does not
// make a program a patch program: zelp holds the stamp's bytes too, to search
// for them. zelp knows this mark only in inverted form (author/stamp_file.cpp),
// so that zelp.exe never carries it and cannot be packed.
#pragma once

namespace zelp {

extern const volatile unsigned char g_dialogMark[16];

// Keeps the mark in a program whose linker would drop an unreferenced object.
inline void KeepDialogMark() { (void)g_dialogMark[0]; }

}  // namespace zelp
