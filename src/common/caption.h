// The window caption, titled on the dialog and every message box.
#pragma once

namespace zelp {

constexpr int kCaptionUnits = 100;
// Filled from string resource 132 by the Windows entry point; elsewhere it
// holds the same text from the start.
extern char16_t g_caption[kCaptionUnits];

}  // namespace zelp
