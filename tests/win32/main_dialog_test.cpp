// The dialog's pieces that need no user: the banner hit test, the messages
// that only draw or report, and the start-up failure. The template comes
// from the program's own resources, linked into this test.
#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/caption.h"
#include "common/report.h"
#include "common/text.h"
#include "res/resource.h"
#include "win_test_util.h"

namespace {

INT_PTR CALLBACK Passive(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

struct Recorded {
  std::vector<std::u16string> texts;
};

void Record(void*, const char16_t* text, void* context) {
  static_cast<Recorded*>(context)->texts.push_back(text);
}

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    // The template, with a procedure that does nothing: messages are then
    // handed to the real procedure one by one.
    dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MAIN), nullptr,
                                Passive, 0);
    ASSERT_NE(dialog, nullptr) << GetLastError();
    zelp::SetReportSink(Record, &recorded);
  }
  void TearDown() override {
    zelp::SetReportSink(nullptr, nullptr);
    if (dialog) DestroyWindow(dialog);
  }
  RECT ClientRectOf(int id) {
    RECT r;
    GetWindowRect(GetDlgItem(dialog, id), &r);
    POINT a = {r.left, r.top}, b = {r.right, r.bottom};
    ScreenToClient(dialog, &a);
    ScreenToClient(dialog, &b);
    return {a.x, a.y, b.x, b.y};
  }
  HWND dialog = nullptr;
  Recorded recorded;
};

TEST_F(Dialog, TheTemplateHasItsControls) {
  const int ids[] = {IDC_DESCRIPTION, IDC_SUMMARY, IDC_APPLY, IDC_SITE, IDC_FORUM};
  for (int id : ids) EXPECT_NE(GetDlgItem(dialog, id), nullptr) << id;
  wchar_t text[64];
  GetDlgItemTextW(dialog, IDC_SUMMARY, text, 64);
  EXPECT_EQ(std::wstring(text), L"补丁信息");
  GetDlgItemTextW(dialog, IDC_APPLY, text, 64);
  EXPECT_EQ(std::wstring(text), L"打补丁");
  LONG style = GetWindowLongW(GetDlgItem(dialog, IDC_DESCRIPTION), GWL_STYLE);
  EXPECT_TRUE(style & ES_MULTILINE);
  EXPECT_TRUE(style & ES_READONLY);
  EXPECT_TRUE(style & WS_VSCROLL);
}

TEST_F(Dialog, ControlsSitWhereTheTemplateSays) {
  // Positions and sizes in dialog units, converted with this dialog's font.
  struct {
    int id, x, y, cx, cy;
    const wchar_t* text;
  } controls[] = {
      {IDC_DESCRIPTION, 12, 54, 204, 82, L""},
      {-1, 7, 45, 214, 95, L"补丁说明"},
      {IDC_SUMMARY, 8, 140, 37, 13, L"补丁信息"},
      {IDC_APPLY, 136, 140, 82, 13, L"打补丁"},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE(c.id);
    // The platform converts the origin and the size separately.
    RECT origin = {c.x, c.y, c.cx, c.cy};
    ASSERT_TRUE(MapDialogRect(dialog, &origin));
    RECT got = ClientRectOf(c.id);
    EXPECT_EQ(got.left, origin.left);
    EXPECT_EQ(got.top, origin.top);
    EXPECT_EQ(got.right - got.left, origin.right);
    EXPECT_EQ(got.bottom - got.top, origin.bottom);
    wchar_t text[64] = {};
    GetDlgItemTextW(dialog, c.id, text, 64);
    EXPECT_EQ(std::wstring(text), c.text);
  }
  RECT size = {0, 0, 226, 154};
  MapDialogRect(dialog, &size);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);

  DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  const DWORD wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  EXPECT_EQ(style & wanted, wanted) << std::hex << style;
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
  LONG buttons[] = {GetWindowLongW(GetDlgItem(dialog, IDC_SUMMARY), GWL_STYLE),
                    GetWindowLongW(GetDlgItem(dialog, IDC_APPLY), GWL_STYLE)};
  for (LONG b : buttons) {
    EXPECT_EQ(b & BS_TYPEMASK, BS_PUSHBUTTON);  // neither is the default button
    EXPECT_TRUE(b & WS_TABSTOP);
  }
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_FORUM), GWL_STYLE) & WS_TABSTOP);
  LONG site = GetWindowLongW(GetDlgItem(dialog, IDC_SITE), GWL_STYLE);
  EXPECT_EQ(site & SS_TYPEMASK, SS_BITMAP);
  EXPECT_TRUE(site & SS_RIGHTJUST);
  EXPECT_FALSE(site & SS_NOTIFY);  // mouse messages must reach the dialog
}

TEST_F(Dialog, IsOverControlExcludesTheBorder) {
  for (int id : {IDC_SITE, IDC_FORUM, IDC_APPLY}) {
    SCOPED_TRACE(id);
    RECT r = ClientRectOf(id);
    ASSERT_GT(r.right - r.left, 2);
    ASSERT_GT(r.bottom - r.top, 2);
    int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
    struct {
      int x, y;
      bool over;
    } points[] = {
        {midX, midY, true},
        {r.left + 1, r.top + 1, true},
        {r.right - 1, r.bottom - 1, true},
        {r.left, midY, false},
        {r.right, midY, false},
        {midX, r.top, false},
        {midX, r.bottom, false},
        {r.left - 1, midY, false},
        {r.right + 1, midY, false},
        {midX, r.bottom + 1, false},
    };
    for (const auto& p : points)
      EXPECT_EQ(zelp::IsOverControl(dialog, id, p.x, p.y), p.over) << p.x << "," << p.y;
  }
  EXPECT_FALSE(zelp::IsOverControl(dialog, 4242, 1, 1));  // no such control
}

TEST_F(Dialog, TheHandCursorShowsOnlyInsideABanner) {
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  ASSERT_NE(arrow, hand);
  for (int id : {IDC_SITE, IDC_FORUM}) {
    SCOPED_TRACE(id);
    RECT r = ClientRectOf(id);
    int midX = (r.left + r.right) / 2, midY = (r.top + r.bottom) / 2;
    struct {
      int x, y;
      bool hand;
    } points[] = {{midX, midY, true},
                  {r.left, midY, false},
                  {midX, r.top, false},
                  {r.right, midY, false},
                  {midX, r.bottom, false}};
    for (const auto& p : points) {
      SetCursor(arrow);
      EXPECT_EQ(zelp::MainDialogProc(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y)), TRUE);
      EXPECT_EQ(GetCursor(), p.hand ? hand : arrow) << p.x << "," << p.y;
    }
  }
  // Over the buttons and the description the cursor is left alone.
  RECT r = ClientRectOf(IDC_APPLY);
  SetCursor(arrow);
  zelp::MainDialogProc(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(r.left + 2, r.top + 2));
  EXPECT_EQ(GetCursor(), arrow);
}

TEST_F(Dialog, EraseBackgroundPaintsTheClientAreaWhite) {
  RECT client;
  GetClientRect(dialog, &client);
  HDC screen = GetDC(dialog);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(mem, bmp);
  RECT all = {0, 0, client.right, client.bottom};
  HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
  FillRect(mem, &all, black);
  DeleteObject(black);

  EXPECT_EQ(zelp::MainDialogProc(dialog, WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem), 0), TRUE);
  const POINT probes[] = {
      {0, 0}, {client.right - 1, client.bottom - 1}, {client.right / 2, client.bottom / 2}};
  for (const POINT& p : probes) EXPECT_EQ(GetPixel(mem, p.x, p.y), RGB(255, 255, 255));

  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(dialog, screen);
}

TEST_F(Dialog, CommandResultsFollowTheTable) {
  // The summary button reports the summary text, the same each time, and
  // leaves the message unhandled; Enter and unknown commands do nothing.
  zelp::WideCopy(zelp::g_stub.summary, u"补丁版本: KOVA-PATCH3.0");
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(zelp::MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_SUMMARY, BN_CLICKED), 0),
              FALSE);
  ASSERT_EQ(recorded.texts.size(), 2u);
  EXPECT_EQ(recorded.texts[0], u"补丁版本: KOVA-PATCH3.0");
  EXPECT_EQ(recorded.texts[1], recorded.texts[0]);
  // The notification code in the high half is not looked at.
  EXPECT_EQ(zelp::MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_SUMMARY, 0x1234), 0), FALSE);
  EXPECT_EQ(recorded.texts.size(), 3u);

  EXPECT_EQ(zelp::MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0), FALSE);
  EXPECT_EQ(zelp::MainDialogProc(dialog, WM_COMMAND, MAKEWPARAM(1, 0), 0), FALSE);
  EXPECT_EQ(recorded.texts.size(), 3u);
  EXPECT_TRUE(IsWindow(dialog));
  // Mouse moves are handled whether or not they are over a banner.
  EXPECT_EQ(zelp::MainDialogProc(dialog, WM_MOUSEMOVE, 0, MAKELPARAM(-5, -5)), TRUE);
}

TEST_F(Dialog, TheResourcesCarryTheCaptionBannersAndIcons) {
  // The .rc file is UTF-8: the caption must come out as these UTF-16 units.
  ASSERT_GT(LoadStringW(GetModuleHandleW(nullptr), IDS_CAPTION,
                        reinterpret_cast<wchar_t*>(zelp::g_caption), zelp::kCaptionUnits),
            0);
  EXPECT_EQ(std::u16string(zelp::g_caption), u"ZELP补丁程序(Varnel版) 3.0.2007.09290");

  struct {
    int control, width, height;
  } banners[] = {{IDC_SITE, 170, 64}, {IDC_FORUM, 137, 76}};
  for (const auto& b : banners) {
    auto bmp = reinterpret_cast<HBITMAP>(
        SendDlgItemMessageW(dialog, b.control, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bmp, nullptr) << b.control;
    BITMAP info;
    ASSERT_EQ(GetObjectW(bmp, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, b.width);
    EXPECT_EQ(info.bmHeight, b.height);
  }
  for (int size : {16, 32}) {
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_ZELP), IMAGE_ICON,
                             size, size, 0);
    EXPECT_NE(icon, nullptr) << size;
    ICONINFO ii;
    ASSERT_TRUE(GetIconInfo(static_cast<HICON>(icon), &ii));
    BITMAP mask;
    GetObjectW(ii.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, size);
    DeleteObject(ii.hbmMask);
    if (ii.hbmColor) DeleteObject(ii.hbmColor);
    DestroyIcon(static_cast<HICON>(icon));
  }
}

TEST_F(Dialog, StartUpWithoutAPatchReportsAndEnds) {
  // This test program carries the stamped field but no patch.
  LoadStringW(GetModuleHandleW(nullptr), IDS_CAPTION, reinterpret_cast<wchar_t*>(zelp::g_caption),
              zelp::kCaptionUnits);
  EXPECT_EQ(zelp::MainDialogProc(dialog, WM_INITDIALOG, 0, 0), TRUE);
  ASSERT_EQ(recorded.texts.size(), 1u);
  EXPECT_EQ(recorded.texts[0], u"初始化失败");
  wchar_t title[128];
  GetWindowTextW(dialog, title, 128);
  EXPECT_EQ(std::wstring(title), L"ZELP补丁程序(Varnel版) 3.0.2007.09290");
  EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
}

}  // namespace
