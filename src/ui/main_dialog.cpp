// The main dialog: a flat switch over messages, each case handing over to
// the patch engine.
#include "ui/main_dialog.h"

#include <shellapi.h>

#include "common/caption.h"
#include "common/report.h"
#include "common/win_text.h"
#include "engine/outcome.h"
#include "res/resource.h"

namespace zelp {

namespace {

HINSTANCE Instance(HWND dialog) {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
}

void OpenPage(HWND dialog, const wchar_t* address) {
  ShellExecuteW(dialog, L"open", L"IEXPLORE", address, nullptr, SW_SHOW);
}

// Mouse messages carry the point as two signed 16-bit halves.
int PointX(LPARAM lParam) { return static_cast<short>(LOWORD(lParam)); }
int PointY(LPARAM lParam) { return static_cast<short>(HIWORD(lParam)); }

void OnInitDialog(HWND dialog) {
  HICON icon = LoadIconW(Instance(dialog), MAKEINTRESOURCEW(IDI_ZELP));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  SetWindowTextW(dialog, as_wcstr(g_caption));
  if (g_stub.LoadPatchInfo()) {
    SetDlgItemTextW(dialog, IDC_DESCRIPTION, as_wcstr(g_stub.info.description));
    SendDlgItemMessageW(dialog, IDC_DESCRIPTION, EM_SETSEL, 0, 0);
  } else {
    Report(dialog, ReportText(Outcome::kInitFailed));
    EndDialog(dialog, 0);
  }
}

void OnEraseBackground(HWND dialog, HDC dc) {
  RECT client;
  GetClientRect(dialog, &client);
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255));
  HGDIOBJ old = SelectObject(dc, white);
  FillRect(dc, &client, white);
  SelectObject(dc, old);
  DeleteObject(white);
}

}  // namespace

bool IsOverControl(HWND dialog, int controlId, int x, int y) {
  RECT r;
  if (!GetWindowRect(GetDlgItem(dialog, controlId), &r)) return false;
  POINT topLeft = {r.left, r.top};
  POINT bottomRight = {r.right, r.bottom};
  ScreenToClient(dialog, &topLeft);
  ScreenToClient(dialog, &bottomRight);
  return topLeft.x < x && x < bottomRight.x && topLeft.y < y && y < bottomRight.y;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); return TRUE;

    case WM_ERASEBKGND: OnEraseBackground(dialog, reinterpret_cast<HDC>(wParam)); return TRUE;

    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDCANCEL:  // Esc or the close box
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDC_SUMMARY: Report(dialog, g_stub.summary); break;
        case IDC_APPLY: g_stub.ApplyPatch(dialog); break;
        default:  // IDOK among them: Enter does nothing
          break;
      }
      return FALSE;

    case WM_MOUSEMOVE: {
      // The banners ask for no notifications, so their mouse messages come
      // here; hovering one shows that it is a link.
      int x = PointX(lParam), y = PointY(lParam);
      if (IsOverControl(dialog, IDC_SITE, x, y) || IsOverControl(dialog, IDC_FORUM, x, y))
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return TRUE;
    }

    case WM_LBUTTONDOWN: {
      int x = PointX(lParam), y = PointY(lParam);
      if (IsOverControl(dialog, IDC_SITE, x, y))
        OpenPage(dialog, kSitePage);
      else if (IsOverControl(dialog, IDC_FORUM, x, y))
        OpenPage(dialog, kForumPage);
      return FALSE;
    }

    default: return FALSE;
  }
}

}  // namespace zelp
