// The end-to-end scenarios, one function each, and their table.
#include <cstring>

#include "harness.h"

namespace driver {
namespace {

// The description exactly; the summary exactly, twice; the close box.
void ScenarioInfo() {
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  ExpectText("description", TextOf(GetDlgItem(p.dialog, kIdDescription)), TextFile(L"desc"));
  Shot(L"dialog", {p.dialog});
  std::wstring summary = TextFile(L"summary");
  for (int i = 0; i < 2; ++i) {
    Press(p.dialog, kIdSummary);
    if (i == 0 && g_args.count(L"shots")) {
      HWND box = nullptr;
      if (!WaitFor(kWindowWait, [&] { return (box = FindMessageBox(p.pid)) != nullptr; }))
        Fail("the summary box did not appear");
      Shot(L"summary", {p.dialog, box});
    }
    ExpectMessage(p, summary);
  }
  Close(p, CloseBy::kCloseBox);
}

// Apply, check the bytes; apply again to the patched file: CRC refused,
// nothing changed. Then Esc.
void ScenarioApply(const std::wstring& target) {
  PlaceTarget(target);
  std::string expected = MustRead(Arg(L"expected"));
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgSuccess);
  ExpectFile(target, expected, "after patching");
  ApplyVia(p, target, kMsgCrcMismatch);
  ExpectFile(target, expected, "after the second run");
  Close(p);
}

void ScenarioCancel() {
  std::wstring target = Work(L"target-cancel.rom");
  PlaceTarget(target);
  std::string original = MustRead(target);
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  Press(p.dialog, kIdApply);
  HWND chooser = WaitChooser(p);
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               (LPARAM)GetDlgItem(chooser, IDCANCEL));
  WaitGone(chooser, "the cancelled chooser");
  ExpectNoMessage(p);
  ExpectFile(target, original, "after cancelling");
  // The dialog still works after a cancelled run.
  ApplyVia(p, target, kMsgSuccess);
  Close(p);
}

// Another program holds the target open without sharing it.
void ScenarioLocked() {
  std::wstring target = Work(L"target-locked.rom");
  PlaceTarget(target);
  std::string original = MustRead(target);
  HANDLE lock = CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (lock == INVALID_HANDLE_VALUE) Fail("cannot lock the target (error %lu)", GetLastError());
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgTargetOpen);
  CloseHandle(lock);
  ExpectFile(target, original, "the locked target");
  // Unlocked, the same dialog patches it.
  ApplyVia(p, target, kMsgSuccess);
  ExpectFile(target, MustRead(Arg(L"expected")), "after unlocking");
  Close(p);
}

// The read-only attribute. Wine maps it to the Unix mode bits, which do not
// stop root: the scenario is skipped when the file can still be written.
void ScenarioReadOnly() {
  std::wstring target = Work(L"nobody\\target-readonly.rom");
  PlaceTarget(target);
  std::string original = MustRead(target);
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE probe = CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    Skip("a read-only file can still be opened for writing here (root under Wine)");
  }
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  Press(p.dialog, kIdApply);
  HWND chooser = WaitChooser(p);
  HWND field = NameField(chooser);
  DWORD_PTR r;
  SendMessageTimeoutW(field, WM_SETTEXT, 0, (LPARAM)target.c_str(), SMTO_ABORTIFHUNG, 5000, &r);
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               (LPARAM)GetDlgItem(chooser, IDOK));
  // The chooser asks whether to replace the file (or, on some systems, refuses
  // a read-only file itself); either way the file must stay as it is, and the
  // report is the open failure.
  HWND question = nullptr;
  if (!WaitFor(kWindowWait, [&] {
        for (HWND h : DialogsOf(p.pid))
          if (h != chooser && IsWindowVisible(h) && GetDlgItem(h, IDYES))
            return (question = h) != nullptr;
        return !IsWindow(chooser);
      }))
    Fail("the chooser neither asked nor closed");
  if (question) {
    PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    WaitGone(question, "the replace question");
  }
  WaitGone(chooser, "the file chooser");
  ExpectMessage(p, kMsgTargetOpen);
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  ExpectFile(target, original, "the read-only target");
  Close(p);
}

// A program whose record stream is damaged (a record of unknown type after
// good ones): its message, and the target as it was.
void ScenarioDamaged() {
  std::wstring target = Work(L"target-damaged.rom");
  PlaceTarget(target);
  std::string original = MustRead(target);
  Program p = Launch(Work(L"patch-damaged.exe"));
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgBadRecordType);
  ExpectFile(target, original, "after the damaged patch");
  Close(p);
}

// A damaged journal beside the target (named after the file's identity) is
// set aside, kept, without a word: the one box says "补丁成功".
void ScenarioJournal() {
  std::wstring target = Work(L"target-journal.rom");
  PlaceTarget(target);
  HANDLE h = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info))
    Fail("cannot read the target's identity");
  CloseHandle(h);
  wchar_t name[64];
  swprintf(name, 64, L".zelp-journal-%016llx-%016llx",
           static_cast<unsigned long long>(info.dwVolumeSerialNumber),
           (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  const std::wstring journal = DirOf(target) + L"\\" + name;
  const std::string junk(100, 'j');
  HANDLE j = CreateFileW(journal.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD put = 0;
  if (j == INVALID_HANDLE_VALUE || !WriteFile(j, junk.data(), 100, &put, nullptr) || put != 100)
    Fail("cannot plant the journal");
  CloseHandle(j);
  std::string expected = MustRead(Arg(L"expected"));
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgSuccess);
  ExpectFile(target, expected, "after patching");
  ExpectFile(journal + L"-set-aside-1", junk, "the journal set aside");
  Close(p);
}

// The stub with nothing appended: "初始化失败", then the program ends without
// ever showing its dialog.
void ScenarioNoPatch() {
  Program p = Launch(Work(L"patch-none.exe"));
  ExpectMessage(p, kMsgInitFailed);
  if (WaitForSingleObject(p.process, kCloseWait) != WAIT_OBJECT_0)
    Fail("the program did not exit after the failed start");
  for (HWND h : DialogsOf(p.pid))
    if (IsWindowVisible(h)) Fail("a window is still shown after the failed start");
}

void ScenarioEscape() {
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  // Enter, as a key and as IDOK, does nothing: the dialog stays.
  PostMessageW(GetDlgItem(p.dialog, kIdDescription), WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(GetDlgItem(p.dialog, kIdDescription), WM_KEYUP, VK_RETURN, 0xC01C0001);
  PostMessageW(p.dialog, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
  ExpectNoMessage(p);
  if (WaitForSingleObject(p.process, 0) == WAIT_OBJECT_0) Fail("Enter ended the program");
  Close(p, CloseBy::kEscKey);
}

// `cmd /c NAME` in the program's folder, NAME without ".exe": the command
// line's first token names no file, the program must still find itself.
void ScenarioCmd() {
  std::wstring program = Arg(L"program");
  std::wstring name = program.substr(program.find_last_of(L'\\') + 1);
  if (name.size() < 5 || _wcsicmp(name.c_str() + name.size() - 4, L".exe") != 0)
    Fail("the program's name must end in .exe");
  name.resize(name.size() - 4);
  std::wstring target = Work(L"target-cmd.rom");
  PlaceTarget(target);
  DWORD cmdPid;
  g_child = Start(L"", L"cmd.exe /c " + name, DirOf(program), &cmdPid);
  Program p;
  p.process = nullptr;
  // The dialog belongs to cmd's child: find it by its caption.
  if (!WaitFor(kWindowWait, [&] {
        for (HWND h : DialogsOf(0)) {
          if (!IsWindowVisible(h) || !IsMainDialog(h) || TextOf(h) != kCaption) continue;
          p.dialog = h;
          return true;
        }
        return false;
      }))
    Fail("the dialog did not appear when started through cmd");
  p.pid = PidOf(p.dialog);
  p.process = g_dialogProcess =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, p.pid);
  if (!p.process) Fail("cannot open the dialog's process");
  ApplyVia(p, target, kMsgSuccess);
  ExpectFile(target, MustRead(Arg(L"expected")), "after patching from cmd");
  Close(p);
  if (WaitForSingleObject(g_child, kCloseWait) != WAIT_OBJECT_0) Fail("cmd did not exit");
}

// Folders and names with CJK characters and spaces, created here so that no
// other layer has to pass them on.
void ScenarioCjk() {
  std::wstring dir = Arg(L"work") + L"\\补丁 测试 目录";
  CreateDirectoryW(dir.c_str(), nullptr);
  ScenarioApply(dir + L"\\游戏 镜像 (中文版).rom");
}

// A target named by its short (8.3) name only.
void ScenarioShortName() {
  std::wstring dir = Arg(L"work") + L"\\a folder with a long name";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring target = dir + L"\\a target file with a long name.rom";
  PlaceTarget(target);
  wchar_t shortPath[MAX_PATH] = {};
  DWORD n = GetShortPathNameW(target.c_str(), shortPath, MAX_PATH);
  if (n == 0 || n >= MAX_PATH || target == shortPath) Skip("no short names on this file system");
  Note("short name " + Utf8(shortPath));
  ScenarioApply(shortPath);
  ExpectFile(target, MustRead(Arg(L"expected")), "the long name after patching by the short one");
}

// 259 units: the longest path the chooser's 260-unit buffer holds.
void ScenarioPath259() {
  std::wstring target = PathOfLength(259);
  if (target.size() != 259) Fail("built a path of %zu units", target.size());
  ScenarioApply(target);
}

// 260 units do not fit the chooser's 260-unit buffer with its terminator:
// the chooser cannot hand the path over, so it must not be patched and the
// file must stay as it is.
void ScenarioPath260() {
  std::wstring target = PathOfLength(260);
  if (target.size() != 260) Fail("built a path of %zu units", target.size());
  PlaceTarget(target);
  std::string original = MustRead(target);
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  if (ChooseAnything(p, target) == kMsgSuccess) Fail("a 260-unit path was patched");
  ExpectFile(target, original, "the 260-unit target");
  Close(p);
}

// A folder's path typed as the target: the chooser goes into it or refuses
// it; the program reports nothing and the folder's file stays as it was.
void ScenarioFolder() {
  std::wstring folder = Arg(L"work") + L"\\a folder.rom";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring inside = folder + L"\\inside.rom";
  PlaceTarget(inside);
  std::string original = MustRead(inside);
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  std::wstring said = ChooseAnything(p, folder);
  if (!said.empty() && said != kMsgTargetOpen)
    Fail("a folder as the target gave %s", Quote(said).c_str());
  DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    Fail("the folder is gone");
  ExpectFile(inside, original, "the file in the folder");
  // The dialog still patches a real file afterwards.
  ApplyVia(p, inside, kMsgSuccess);
  Close(p);
}

// A FIFO (made on the Unix side) picked as the target: it opens like a file
// under Wine but is no file on a disk, so opening the target fails, and
// nothing waits on the pipe.
void ScenarioFifo() {
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  std::wstring said = ChooseAnything(p, Work(L"target.fifo"));
  if (said != kMsgTargetOpen) Fail("a FIFO as the target gave %s", Quote(said).c_str());
  Close(p);
}

// Names that begin with a dash, in a folder that does too: nothing takes
// them for options.
void ScenarioDash() {
  std::wstring dir = Arg(L"work") + L"\\-folder";
  CreateDirectoryW(dir.c_str(), nullptr);
  ScenarioApply(dir + L"\\--target -o.rom");
}

// The program itself in a folder so deep that its own path has 260 units or
// more: it cannot name itself in 260 units, so its start fails.
void ScenarioLongProgram() {
  std::wstring program = PathOfLength(270);
  program.replace(program.size() - 4, 4, L".exe");
  if (!CopyFileW(Arg(L"program").c_str(), program.c_str(), FALSE))
    Fail("cannot copy the program to a long path (error %lu)", GetLastError());
  Program p;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = L"\"" + program + L"\"";
  std::wstring app = L"\\\\?\\" + program;
  if (!CreateProcessW(app.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                      Arg(L"work").c_str(), &si, &pi))
    Skip("this system cannot start a program whose path has 260 units or more");
  CloseHandle(pi.hThread);
  p.process = g_child = pi.hProcess;
  p.pid = pi.dwProcessId;
  ExpectMessage(p, kMsgInitFailed);
  if (WaitForSingleObject(p.process, kCloseWait) != WAIT_OBJECT_0)
    Fail("the program did not exit after the failed start");
}

// The banners open the two pages through the shell's "IEXPLORE". A copy of
// this driver named IEXPLORE.exe, beside the program, records the command
// lines it gets; clicks on a banner's edge or off the banners must
// open nothing.
const wchar_t kSitePage[] = L"https://www.example.org/zelp/";
const wchar_t kForumPage[] = L"https://forum.example.org/zelp/";

void ScenarioBanners() {
  std::wstring dir = Arg(L"work") + L"\\browser";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring recorder = dir + L"\\" + kRecorderName;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (!CopyFileW(self, recorder.c_str(), FALSE))
    Fail("cannot copy the recorder (error %lu)", GetLastError());
  std::wstring log = RecorderLog(recorder);
  DeleteFileW(log.c_str());
  // The program beside it: the shell looks in the program's own folder first.
  std::wstring program = dir + L"\\patch.exe";
  if (!CopyFileW(Arg(L"program").c_str(), program.c_str(), FALSE))
    Fail("cannot copy the program (error %lu)", GetLastError());

  Program p = Launch(program);
  p.dialog = WaitMainDialog(p.pid);
  auto rectOf = [&](int id) {
    RECT r;
    GetWindowRect(GetDlgItem(p.dialog, id), &r);
    MapWindowPoints(nullptr, p.dialog, (POINT*)&r, 2);
    return r;
  };
  RECT site = rectOf(kIdSite), forum = rectOf(kIdForum), text = rectOf(kIdDescription);
  struct Click {
    const char* where;
    LONG x, y;
    const wchar_t* opens;  // null: nothing
  } clicks[] = {
      {"the site banner", (site.left + site.right) / 2, (site.top + site.bottom) / 2, kSitePage},
      {"the forum banner", (forum.left + forum.right) / 2, (forum.top + forum.bottom) / 2,
       kForumPage},
      {"the site banner's left edge", site.left, (site.top + site.bottom) / 2, nullptr},
      {"the forum banner's top-left corner", forum.left, forum.top, nullptr},
      {"the description", (text.left + text.right) / 2, (text.top + text.bottom) / 2, nullptr},
  };
  size_t lines = 0;
  for (const Click& c : clicks) {
    PostMessageW(p.dialog, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.x, c.y));
    PostMessageW(p.dialog, WM_LBUTTONUP, 0, MAKELPARAM(c.x, c.y));
    std::string got;
    auto more = [&] {
      std::string all;
      if (!ReadAll(log, &all)) return false;
      size_t n = 0;
      for (char ch : all) n += ch == '\n';
      if (n <= lines) return false;
      got = all.substr(0, all.size() - 1);
      got =
          got.substr(got.find_last_of('\n') == std::string::npos ? 0 : got.find_last_of('\n') + 1);
      lines = n;
      return true;
    };
    if (c.opens) {
      if (!WaitFor(kWindowWait, more)) Fail("a click on %s opened nothing", c.where);
      if (got != Utf8(c.opens))
        Fail("a click on %s opened \"%s\", want \"%s\"", c.where, got.c_str(),
             Utf8(c.opens).c_str());
    } else if (WaitFor(kQuietWait, more)) {
      Fail("a click on %s opened \"%s\"", c.where, got.c_str());
    }
  }
  Close(p);
}

// `target` names the running `program` (or leads to it): it is open for
// reading (and running), so it cannot be opened for writing; the program
// must stay intact.
void ExpectSelfRefused(const std::wstring& program, const std::wstring& target) {
  std::string before = MustRead(program);
  Program p = Launch(program);
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgTargetOpen);
  ExpectFile(program, before, "the program itself");
  Close(p);
}

// The program's own file picked as the target.
void ScenarioSelf() {
  std::wstring program = Arg(L"work") + L"\\self-patch.exe";
  if (!CopyFileW(Arg(L"program").c_str(), program.c_str(), FALSE))
    Fail("cannot copy the program (error %lu)", GetLastError());
  ExpectSelfRefused(program, program);
}

// A Unix symbolic link to the running program, picked as the target.
void ScenarioSelfLink() {
  ExpectSelfRefused(Work(L"patch-linked.exe"), Work(L"link-to-program.rom"));
}

void ScenarioApplyPlain() { ScenarioApply(Work(L"target-apply.rom")); }

// A BPS of moved blocks and a longer file, converted into a program: what
// the dialog makes is byte for byte zelp's apply of the BPS, and the
// modified file the BPS was made from.
void ScenarioConvert() {
  std::wstring target = Work(L"target-moved.rom");
  if (!CopyFileW(Work(L"moved-original.rom").c_str(), target.c_str(), FALSE))
    Fail("cannot copy moved-original.rom (error %lu)", GetLastError());
  Program p = Launch(Work(L"patch-moved.exe"));
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgSuccess);
  ExpectFile(target, MustRead(Work(L"moved-applied.rom")), "beside zelp's apply of the BPS");
  ExpectFile(target, MustRead(Work(L"moved-modified.rom")), "beside the modified file");
  Close(p);
}

}  // namespace

const Scenario kScenarios[] = {
    {"info", ScenarioInfo, false},
    {"apply", ScenarioApplyPlain, false},
    {"convert", ScenarioConvert, false},
    {"cancel", ScenarioCancel, false},
    {"locked", ScenarioLocked, false},
    {"readonly", ScenarioReadOnly, true},
    {"damaged", ScenarioDamaged, false},
    {"journal", ScenarioJournal, false},
    {"nopatch", ScenarioNoPatch, false},
    {"escape", ScenarioEscape, false},
    {"cmd", ScenarioCmd, false},
    {"cjk", ScenarioCjk, false},
    {"shortname", ScenarioShortName, false},
    {"path259", ScenarioPath259, false},
    {"path260", ScenarioPath260, false},
    {"longprogram", ScenarioLongProgram, false},
    {"banners", ScenarioBanners, false},
    {"self", ScenarioSelf, false},
    {"folder", ScenarioFolder, false},
    {"fifo", ScenarioFifo, false},
    {"dash", ScenarioDash, false},
    {"selflink", ScenarioSelfLink, false},
};
const size_t kScenarioCount = sizeof kScenarios / sizeof kScenarios[0];

}  // namespace driver
