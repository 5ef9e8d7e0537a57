#include "common/caption.h"

namespace zelp {

// Filled from string resource 132 by the entry point.
char16_t g_caption[kCaptionUnits] = {};

}  // namespace zelp
