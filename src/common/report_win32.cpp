#include <windows.h>

#include "common/caption.h"
#include "common/report.h"
#include "common/win_text.h"

namespace zelp {

void PlatformReport(void* owner, const char16_t* text) {
  MessageBoxW(static_cast<HWND>(owner), as_wcstr(text), as_wcstr(g_caption), MB_OK);
}

}  // namespace zelp
