// The chooser's request as built by its constructor, and who owns it when
// shown (choosing and cancelling through it: the Wine scenarios).
#include "ui/file_dlg.h"

#include <dlgs.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::wstring FilterUnits(const KOVA_FileDlgW& d, size_t units) {
  return std::wstring(d.request.lpstrFilter, units);
}

TEST(FileChooser, FilterPairsBecomeNulSeparatedWithAnExtraTerminator) {
  struct {
    const wchar_t* filter;
    std::wstring expected;  // including the final two NULs
  } cases[] = {
      {L"要打补丁的文件|*.*|", std::wstring(L"要打补丁的文件\0*.*\0\0", 13)},
      {nullptr, std::wstring(L"所有文件\0*.*\0\0", 10)},
      {L"ROM|*.gba;*.nds|所有文件|*.*|", std::wstring(L"ROM\0*.gba;*.nds\0所有文件\0*.*\0\0", 26)},
  };
  for (const auto& c : cases) {
    KOVA_FileDlgW d(0, nullptr, nullptr, c.filter, 260, 0);
    EXPECT_EQ(FilterUnits(d, c.expected.size()), c.expected);
  }
}

TEST(FileChooser, CapacityIsRaisedTo260) {
  struct {
    DWORD asked, got;
  } cases[] = {{0, 260}, {100, 260}, {259, 260}, {260, 260}, {1000, 1000}};
  for (const auto& c : cases) {
    KOVA_FileDlgW d(0, nullptr, nullptr, nullptr, c.asked, 0);
    EXPECT_EQ(d.request.nMaxFile, c.got);
    EXPECT_EQ(d.request.lpstrFile, d.fileBuffer);
    // The whole capacity is really there to write into.
    d.fileBuffer[c.got - 1] = L'x';
  }
}

TEST(FileChooser, TheRequestRecordHasThisWidthsSizes) {
  // The full record and the one older systems take, by program width.
#ifdef _WIN64
  const DWORD full = 152, old = 136;
#else
  const DWORD full = 88, old = 76;
#endif
  EXPECT_EQ(sizeof(OPENFILENAMEW), full);
  EXPECT_EQ(OPENFILENAME_SIZE_VERSION_400W, old);
  // Wine reports an NT system of version 5 or later: the full record.
  KOVA_FileDlgW d(1, nullptr, nullptr, nullptr, 260, 0);
  EXPECT_EQ(d.request.lStructSize, full);
}

TEST(FileChooser, TheHookItAsksForIsThereAndPassesEverythingOn) {
  // Some systems refuse a request that asks for a hook without giving one.
  KOVA_FileDlgW d(0, nullptr, nullptr, nullptr, 260, 0);
  ASSERT_TRUE(d.request.Flags & OFN_ENABLEHOOK);
  ASSERT_NE(d.request.lpfnHook, nullptr);
  EXPECT_EQ(d.request.lpfnHook(nullptr, WM_INITDIALOG, 0, 0), 0u);
}

TEST(FileChooser, InitialNameAndExtensionAndTheChosenPath) {
  const wchar_t* ext = L"rom";
  KOVA_FileDlgW d(0, ext, L"C:\\游戏\\a b.rom", nullptr, 260, 0);
  EXPECT_EQ(d.request.lpstrDefExt, ext);  // referenced, not copied
  wchar_t out[260];
  out[0] = L'?';
  EXPECT_EQ(d.GetChosenPath(out), 1);
  EXPECT_EQ(std::wstring(out), L"C:\\游戏\\a b.rom");

  KOVA_FileDlgW empty(0, nullptr, nullptr, nullptr, 260, 0);
  EXPECT_EQ(empty.GetChosenPath(out), 1);
  EXPECT_EQ(out[0], 0);
}

TEST(FileChooser, WithMultipleSelectionTheFirstChosenFileIsThePath) {
  struct {
    std::wstring buffer;  // as the platform leaves it
    WORD nameOffset;
    std::wstring expected;
  } cases[] = {
      {std::wstring(L"C:\\游戏\0a.rom\0b.rom\0\0", 19), 6, L"C:\\游戏\\a.rom"},
      {std::wstring(L"C:\\\0a.rom\0b.rom\0\0", 17), 4, L"C:\\a.rom"},
      {std::wstring(L"C:\\游戏\\a.rom\0\0", 13), 6, L"C:\\游戏\\a.rom"},  // one file
  };
  for (const auto& c : cases) {
    KOVA_FileDlgW d(1, nullptr, nullptr, nullptr, 260, OFN_ALLOWMULTISELECT);
    std::copy(c.buffer.begin(), c.buffer.end(), d.fileBuffer);
    d.request.nFileOffset = c.nameOffset;
    wchar_t out[260];
    EXPECT_EQ(d.GetChosenPath(out), 1);
    EXPECT_EQ(std::wstring(out), c.expected);
  }
}

// Plays the user of the chooser from another thread: waits for the
// chooser's window in this process, notes its owner and what its type box
// shows, and cancels it.
struct ChooserUser {
  HWND found = nullptr;
  HWND owner = nullptr;
  std::wstring typeText;

  static BOOL CALLBACK Find(HWND w, LPARAM self) {
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[16];
    if (pid == GetCurrentProcessId() && GetClassNameW(w, cls, 16) &&
        std::wstring(cls) == L"#32770" && IsWindowEnabled(w)) {
      reinterpret_cast<ChooserUser*>(self)->found = w;
      return FALSE;
    }
    return TRUE;
  }

  static DWORD WINAPI Run(void* p) {
    auto* u = static_cast<ChooserUser*>(p);
    // A loaded machine can take many seconds to show the chooser: wait up
    // to 60 s for it, and until its type box is filled (initialised).
    wchar_t text[128] = {};
    for (int i = 0; i < 1200 && !text[0]; ++i) {
      Sleep(50);
      if (!u->found) EnumWindows(Find, reinterpret_cast<LPARAM>(u));
      if (u->found) GetDlgItemTextW(u->found, cmb1, text, 128);
    }
    if (!u->found) return 1;
    Sleep(200);  // the rest of its initialisation
    u->owner = GetWindow(u->found, GW_OWNER);
    u->typeText = text;
    PostMessageW(u->found, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
};

int ShowWithUser(KOVA_FileDlgW& d, ChooserUser& user) {
  HANDLE t = CreateThread(nullptr, 0, ChooserUser::Run, &user, 0, nullptr);
  int result = d.ShowModal();
  WaitForSingleObject(t, 70000);
  CloseHandle(t);
  return result;
}

TEST(FileChooserShown, TheWindowWithTheFocusOwnsTheChooser) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  SetFocus(owner);
  KOVA_FileDlgW d(1, nullptr, nullptr, nullptr, 260, 0);
  ChooserUser user;
  EXPECT_EQ(ShowWithUser(d, user), 2);
  EXPECT_EQ(d.request.hwndOwner, owner);
  EXPECT_EQ(user.owner, owner);
  EXPECT_EQ(user.typeText, L"所有文件");
  DestroyWindow(owner);
}

}  // namespace
