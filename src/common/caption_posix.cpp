#include "common/caption.h"

namespace zelp {

// The text of the Windows program's string resource 132.
char16_t g_caption[kCaptionUnits] = u"ZELP补丁程序(Varnel版) 3.0.2007.09290";

}  // namespace zelp
