// The patch program's entry point: load the caption, run the dialog, exit
// with its end code.
#include <windows.h>

#include "common/caption.h"
#include "common/win_text.h"
#include "res/resource.h"
#include "ui/dialog_mark.h"
#include "ui/main_dialog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  zelp::KeepDialogMark();
  LoadStringW(instance, IDS_CAPTION, as_wcstr(zelp::g_caption), zelp::kCaptionUnits);
  return static_cast<int>(
      DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, zelp::MainDialogProc, 0));
}
