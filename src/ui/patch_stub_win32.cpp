// The Windows program's own operations on the patch state: both find the
// program's file through the module file name.
#include <windows.h>

#include <cstring>

#include "common/win_text.h"
#include "engine/outcome.h"
#include "engine/patch_stub.h"
#include "engine/stamp.h"
#include "file/short_path.h"
#include "ui/file_dlg.h"
#include "ui/main_dialog.h"

namespace zelp {

CPatchStub g_stub(StampedPatchOffset());

namespace {

// The program's own file name; false when there is none or it did not fit.
bool OwnPath(char16_t (&path)[kPathUnits]) {
  DWORD n = GetModuleFileNameW(nullptr, as_wcstr(path), kPathUnits);
  return n != 0 && n != static_cast<DWORD>(kPathUnits);
}

}  // namespace

}  // namespace zelp

int CPatchStub::LoadPatchInfo() {
  std::memset(summary, 0, sizeof summary);
  char16_t own[zelp::kPathUnits];
  if (!zelp::OwnPath(own)) return 0;
  return LoadPatchInfoFrom(own);
}

int CPatchStub::ApplyPatch(void* owner) {
  using namespace zelp;
  // The module file name, not the first command-line token: that names no
  // file when the program was started by its bare name, and another file
  // when a parent passed such a command line.
  char16_t own[kPathUnits];
  bool haveOwn = OwnPath(own);

  char16_t chosen[kPathUnits];
  {
    KOVA_FileDlgW chooser(0, nullptr, nullptr, L"要打补丁的文件|*.*|", kPathUnits,
                          OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY);
    if (chooser.ShowModal() != 1) return 0;
    chooser.GetChosenPath(as_wcstr(chosen));
  }
  if (!haveOwn) return Finish(owner, Outcome::kPatchOpen);
  return ApplyPatchFiles(own, chosen, owner);
}
