// The chooser's request as built by its constructor (showing it needs a
// user: the Wine end-to-end tests do that).
#include "ui/file_dlg.h"

#include <dlgs.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "win_test_util.h"

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

TEST(FileChooser, TheRequestIsTheFullRecordOnThisSystem) {
  // Wine reports an NT system of version 5 or later: the whole 64-bit
  // record, not the old 32-bit 76 bytes.
  KOVA_FileDlgW d(1, nullptr, nullptr, nullptr, 260, 0);
  EXPECT_EQ(d.request.lStructSize, sizeof(OPENFILENAMEW));
  EXPECT_EQ(d.request.hwndOwner, nullptr);
  EXPECT_EQ(d.request.lpstrTitle, nullptr);
  EXPECT_EQ(d.request.lpstrInitialDir, nullptr);
  EXPECT_EQ(d.request.lpstrFileTitle, d.fileTitle);
  EXPECT_EQ(d.request.nMaxFileTitle, 260u);
}

TEST(FileChooser, OptionBitsAddHookAndExplorerAndDropSizingWithATemplate) {
  KOVA_FileDlgW save(0, nullptr, nullptr, nullptr, 260, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY);
  EXPECT_EQ(save.request.Flags, static_cast<DWORD>(OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY |
                                                   OFN_ENABLEHOOK | OFN_EXPLORER));
  KOVA_FileDlgW templ(0, nullptr, nullptr, nullptr, 260, OFN_ENABLETEMPLATE | OFN_ENABLESIZING);
  EXPECT_EQ(templ.request.Flags,
            static_cast<DWORD>(OFN_ENABLETEMPLATE | OFN_ENABLEHOOK | OFN_EXPLORER));
  // A hook is asked for, so one must be there: some systems refuse the request without.
  ASSERT_NE(save.request.lpfnHook, nullptr);
  EXPECT_EQ(save.request.lpfnHook(nullptr, WM_INITDIALOG, 0, 0), 0u);
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

}  // namespace

namespace {

// Plays the user of the chooser from another thread: waits for the
// chooser's window in this process, then either cancels it or types a name
// and confirms. Everything it saw is kept for the test to check.
struct ChooserUser {
  bool cancel = false;
  std::wstring name;  // typed into the file name box when confirming
  HWND found = nullptr;
  HWND owner = nullptr;
  std::wstring typeText;  // the file type box's current text

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
    if (u->cancel) {
      PostMessageW(u->found, WM_COMMAND, IDCANCEL, 0);
    } else {
      // The explorer-style chooser's name box is a combo box (cmb13) or an
      // edit control (edt1), depending on the platform version.
      HWND box = GetDlgItem(u->found, cmb13);
      if (!box) box = GetDlgItem(u->found, edt1);
      SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u->name.c_str()));
      PostMessageW(u->found, WM_COMMAND, IDOK, 0);
    }
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

TEST(FileChooserShown, CancellingGives2AndAChoiceGives1WithItsFullPath) {
  zelp_test::TempDir dir;
  {
    KOVA_FileDlgW d(0, nullptr, nullptr, L"要打补丁的文件|*.*|", 260,
                    OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY);
    ChooserUser user;
    user.cancel = true;
    EXPECT_EQ(ShowWithUser(d, user), 2);
    ASSERT_NE(user.found, nullptr) << "the chooser never appeared";
    EXPECT_EQ(user.typeText, L"要打补丁的文件");
  }
  {
    KOVA_FileDlgW d(0, nullptr, nullptr, L"要打补丁的文件|*.*|", 260,
                    OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY);
    ChooserUser user;
    user.name = dir.path() + L"新 文件.rom";  // does not exist: no overwrite question
    EXPECT_EQ(ShowWithUser(d, user), 1);
    ASSERT_NE(user.found, nullptr);
    wchar_t out[260];
    EXPECT_EQ(d.GetChosenPath(out), 1);
    EXPECT_EQ(std::wstring(out), user.name);
    EXPECT_EQ(std::wstring(d.fileTitle), L"新 文件.rom");
  }
}

TEST(FileChooserShown, TheWindowWithTheFocusOwnsTheChooser) {
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  SetFocus(owner);
  KOVA_FileDlgW d(1, nullptr, nullptr, nullptr, 260, 0);
  ChooserUser user;
  user.cancel = true;
  EXPECT_EQ(ShowWithUser(d, user), 2);
  EXPECT_EQ(d.request.hwndOwner, owner);
  EXPECT_EQ(user.owner, owner);
  EXPECT_EQ(user.typeText, L"所有文件");
  DestroyWindow(owner);
}

}  // namespace
