#include "common/caption.h"

namespace zelp {

#ifdef _WIN32
char16_t g_caption[kCaptionUnits] = {};
#else
char16_t g_caption[kCaptionUnits] = u"ZELP补丁程序(Varnel版) 3.0.2007.09290";
#endif

}  // namespace zelp
