// The dialog's pieces that the Wine scenarios do not see: the banner hit
// test at the pixel, the hand cursor, the background, the icon, and the
// start-up failure's report. The template comes from the program's own
// resources, linked into this test.
#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/caption.h"
#include "common/report.h"
#include "res/resource.h"

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
    route = std::make_unique<zelp::ReportRoute>(Record, &recorded);
  }
  void TearDown() override {
    route.reset();
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
  std::unique_ptr<zelp::ReportRoute> route;
};

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
  // The icon resource carries both sizes the shell shows.
  for (int size : {16, 32}) {
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_ZELP), IMAGE_ICON,
                             size, size, 0);
    ASSERT_NE(icon, nullptr) << size;
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

}  // namespace
