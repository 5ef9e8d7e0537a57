// Drives the real patch program the way a user would, through window
// messages, and checks what it shows and what it does to the target file.
//
//   zelp_wine_driver SCENARIO key=value...
//
// Keys (Windows paths): program, target (the file to patch; the driver copies
// `original` onto it first), original, expected (the patched result), desc
// and summary (UTF-8 files with the exact texts the dialog must show), work (a
// scratch folder), shots (a folder for screenshot hand-shakes, demo only).
//
// Exit status: 0 passed, 1 failed, 77 skipped. Every wait has a deadline, so
// a window that never appears fails the scenario instead of hanging it; the
// program under test is terminated on every failure.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t kCaption[] = L"ZELP补丁程序(Varnel版) 3.0.2007.09290";
const wchar_t kMsgSuccess[] = L"补丁成功";
const wchar_t kMsgInitFailed[] = L"初始化失败";
const wchar_t kMsgCrcMismatch[] = L"目标文件没有通过CRC32验证";
const wchar_t kMsgTargetOpen[] = L"目标文件打开失败";
const wchar_t kMsgBadRecordType[] = L"非法的ZELP补丁文件(2)";
const wchar_t kFilterName[] = L"要打补丁的文件";

const int kIdDescription = 1002;
const int kIdSummary = 1003;
const int kIdApply = 1004;
const int kIdMsgText = 0xFFFF;     // the text of a message box
const int kIdNameCombo = 0x47C;    // cmb13: file name, newer chooser layout
const int kIdNameEdit = 0x480;     // edt1: file name, older layout
const int kIdTypeCombo = 0x470;    // cmb1: file types
const int kIdReadOnlyBox = 0x410;  // chx1: "open read-only"

const DWORD kWindowWait = 20000;  // a window to appear (first start of a prefix is slow)
const DWORD kCloseWait = 10000;   // a window to go away or a process to end
const DWORD kQuietWait = 1500;    // how long "nothing appears" is watched

std::wstring g_scenario;
std::map<std::wstring, std::wstring> g_args;
HANDLE g_child = nullptr;  // the program under test (or cmd.exe)
HANDLE g_dialogProcess = nullptr;

// --- output -----------------------------------------------------------------

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
  std::string s(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
  std::wstring w(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
  return w;
}

void Out(const std::string& s) {
  DWORD n;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), (DWORD)s.size(), &n, nullptr);
}

// Shows control characters so that a CR LF difference is visible.
std::string Quote(const std::wstring& w) {
  std::string out = "\"";
  for (char c : Utf8(w)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out + "\"";
}

void KillChildren() {
  if (g_dialogProcess) TerminateProcess(g_dialogProcess, 99);
  if (g_child) TerminateProcess(g_child, 99);
}

[[noreturn]] void Fail(const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  Out("FAIL " + Utf8(g_scenario) + ": " + buf + "\n");
  KillChildren();
  ExitProcess(1);
}

[[noreturn]] void Skip(const char* why) {
  Out("SKIP " + Utf8(g_scenario) + ": " + why + "\n");
  KillChildren();
  ExitProcess(77);
}

void Note(const std::string& s) { Out("  " + Utf8(g_scenario) + ": " + s + "\n"); }

void ExpectText(const char* what, const std::wstring& got, const std::wstring& want) {
  if (got != want) Fail("%s: got %s, want %s", what, Quote(got).c_str(), Quote(want).c_str());
}

// --- arguments and files ----------------------------------------------------

const std::wstring& Arg(const wchar_t* key) {
  auto it = g_args.find(key);
  if (it == g_args.end() || it->second.empty()) Fail("missing argument %s=", Utf8(key).c_str());
  return it->second;
}

bool ReadAll(const std::wstring& path, std::string* out) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  out->clear();
  char buf[65536];
  DWORD n;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &n, nullptr)) && n > 0) out->append(buf, n);
  CloseHandle(h);
  return ok;
}

std::string MustRead(const std::wstring& path) {
  std::string s;
  if (!ReadAll(path, &s)) Fail("cannot read %s (error %lu)", Utf8(path).c_str(), GetLastError());
  return s;
}

std::wstring TextFile(const wchar_t* key) { return Wide(MustRead(Arg(key))); }

void ExpectFile(const std::wstring& path, const std::string& want, const char* what) {
  std::string got = MustRead(path);
  if (got == want) return;
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
  Fail("%s: %s differs (size %zu, want %zu; first difference at byte %zu)", what,
       Utf8(path).c_str(), got.size(), want.size(), i);
}

// Puts a fresh copy of the original file at `path`.
void PlaceTarget(const std::wstring& path) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!CopyFileW(Arg(L"original").c_str(), path.c_str(), FALSE))
    Fail("cannot copy the original to %s (error %lu)", Utf8(path).c_str(), GetLastError());
}

std::wstring DirOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// --- windows ----------------------------------------------------------------

bool WaitFor(DWORD ms, const std::function<bool()>& done) {
  DWORD start = GetTickCount();
  for (;;) {
    if (done()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(30);
  }
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[64] = {};
  GetClassNameW(h, buf, 64);
  return buf;
}

std::wstring TextOf(HWND h) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &len))
    Fail("window %p does not answer WM_GETTEXTLENGTH", (void*)h);
  std::vector<wchar_t> buf(len + 2);
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), (LPARAM)buf.data(), SMTO_ABORTIFHUNG, 5000,
                           &got))
    Fail("window %p does not answer WM_GETTEXT", (void*)h);
  return std::wstring(buf.data(), got);
}

DWORD PidOf(HWND h) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  return pid;
}

struct DialogSearch {
  DWORD pid;  // 0: any process
  std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND h, LPARAM p) {
  auto* c = reinterpret_cast<DialogSearch*>(p);
  if ((c->pid == 0 || PidOf(h) == c->pid) && ClassOf(h) == L"#32770") c->found.push_back(h);
  return TRUE;
}

std::vector<HWND> DialogsOf(DWORD pid) {
  DialogSearch search{pid, {}};
  EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsChooser(HWND h) {
  return GetDlgItem(h, kIdNameEdit) || GetDlgItem(h, kIdNameCombo);
}

bool IsMainDialog(HWND h) {
  return GetDlgItem(h, kIdDescription) && GetDlgItem(h, kIdApply) && !IsChooser(h);
}

// Top-level dialogs of the process that are neither the main dialog nor the
// chooser: message boxes. Hidden ones count (a failed start shows its box
// while the main dialog is still hidden).
HWND FindMessageBox(DWORD pid) {
  for (HWND h : DialogsOf(pid))
    if (!IsMainDialog(h) && !IsChooser(h) && IsWindowVisible(h)) return h;
  return nullptr;
}

struct Program {
  DWORD pid = 0;
  HANDLE process = nullptr;
  HWND dialog = nullptr;
};

HWND WaitMainDialog(DWORD pid) {
  HWND found = nullptr;
  bool ok = WaitFor(kWindowWait, [&] {
    for (HWND h : DialogsOf(pid)) {
      if (!IsWindowVisible(h) || !IsMainDialog(h)) continue;
      wchar_t title[128] = {};
      GetWindowTextW(h, title, 128);
      if (std::wstring(title) == kCaption) {
        found = h;
        return true;
      }
    }
    return false;
  });
  if (!ok) {
    HWND box = FindMessageBox(pid);
    if (box) Fail("no main dialog; a message box says %s", Quote(TextOf(GetDlgItem(box, kIdMsgText))).c_str());
    Fail("the dialog titled %s did not appear within %lu ms", Quote(kCaption).c_str(), kWindowWait);
  }
  return found;
}

HANDLE Start(const std::wstring& application, const std::wstring& commandLine,
             const std::wstring& directory, DWORD* pid) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back(0);
  if (!CreateProcessW(application.empty() ? nullptr : application.c_str(), cmd.data(), nullptr,
                      nullptr, FALSE, 0, nullptr, directory.empty() ? nullptr : directory.c_str(),
                      &si, &pi))
    Fail("cannot start %s (error %lu)", Utf8(commandLine).c_str(), GetLastError());
  CloseHandle(pi.hThread);
  *pid = pi.dwProcessId;
  return pi.hProcess;
}

// Starts the program directly, as Explorer would.
Program Launch(const std::wstring& path) {
  Program p;
  p.process = g_child = Start(path, L"\"" + path + L"\"", DirOf(path), &p.pid);
  return p;
}

void Press(HWND dialog, int id) {
  HWND button = GetDlgItem(dialog, id);
  if (!button) Fail("the dialog has no control %d", id);
  // Posted, never sent: the button opens modal windows and would block us.
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
}

void WaitGone(HWND h, const char* what) {
  if (!WaitFor(kCloseWait, [&] { return !IsWindow(h); })) Fail("%s did not close", what);
}

// Waits for the message box the program shows and checks it the way every
// report must look: the caption as title, the text, one OK button, owned by
// the main dialog (when there is one). Then dismisses it with OK.
void ExpectMessage(const Program& p, const std::wstring& want) {
  HWND box = nullptr;
  if (!WaitFor(kWindowWait, [&] { return (box = FindMessageBox(p.pid)) != nullptr; }))
    Fail("no message box appeared (expected %s)", Quote(want).c_str());
  HWND text = GetDlgItem(box, kIdMsgText);
  if (!text) Fail("the message box has no text control");
  ExpectText("message box text", TextOf(text), want);
  ExpectText("message box title", TextOf(box), kCaption);
  if (p.dialog && GetWindow(box, GW_OWNER) != p.dialog)
    Fail("the message box is not owned by the main dialog");
  int buttons = 0;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    if (ClassOf(c) == L"Button" && IsWindowVisible(c)) {
      ++buttons;
      if (GetDlgCtrlID(c) != IDOK) Fail("the message box has a button other than OK (id %d)", GetDlgCtrlID(c));
    }
  if (buttons != 1) Fail("the message box has %d buttons, want one OK button", buttons);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(box, IDOK));
  WaitGone(box, "the message box");
}

void ExpectNoMessage(const Program& p) {
  HWND box = nullptr;
  if (WaitFor(kQuietWait, [&] { return (box = FindMessageBox(p.pid)) != nullptr; }))
    Fail("unexpected message box %s", Quote(TextOf(GetDlgItem(box, kIdMsgText))).c_str());
}

HWND WaitChooser(const Program& p) {
  HWND chooser = nullptr;
  bool ok = WaitFor(kWindowWait, [&] {
    for (HWND h : DialogsOf(p.pid))
      if (IsChooser(h) && IsWindowVisible(h)) return (chooser = h) != nullptr;
    return false;
  });
  if (!ok) {
    HWND box = FindMessageBox(p.pid);
    if (box) Fail("no file chooser; a message box says %s", Quote(TextOf(GetDlgItem(box, kIdMsgText))).c_str());
    Fail("the file chooser did not appear");
  }
  // What the user sees of the request: the one filter, no read-only box.
  if (HWND types = GetDlgItem(chooser, kIdTypeCombo)) {
    std::wstring shown = TextOf(types);
    if (shown.compare(0, wcslen(kFilterName), kFilterName) != 0)
      Fail("the chooser's file type shows %s, want %s", Quote(shown).c_str(), Quote(kFilterName).c_str());
  }
  HWND readOnly = GetDlgItem(chooser, kIdReadOnlyBox);
  if (readOnly && IsWindowVisible(readOnly)) Fail("the chooser shows the read-only check box");
  return chooser;
}

HWND NameField(HWND chooser) {
  HWND field = GetDlgItem(chooser, kIdNameEdit);
  if (!field) field = GetDlgItem(chooser, kIdNameCombo);
  if (field && ClassOf(field) != L"Edit") {
    // A combo box: its text lives in the edit inside it.
    HWND inner = FindWindowExW(field, nullptr, L"Edit", nullptr);
    if (!inner) {
      HWND combo = FindWindowExW(field, nullptr, L"ComboBox", nullptr);
      if (combo) inner = FindWindowExW(combo, nullptr, L"Edit", nullptr);
    }
    if (inner) field = inner;
  }
  if (!field) Fail("the chooser has no file name field");
  return field;
}

// Types `path` into the chooser and confirms it; answers the question whether
// to replace the existing file with Yes.
void Choose(const Program& p, const std::wstring& path, bool exists = true) {
  HWND chooser = WaitChooser(p);
  HWND field = NameField(chooser);
  DWORD_PTR r;
  SendMessageTimeoutW(field, WM_SETTEXT, 0, (LPARAM)path.c_str(), SMTO_ABORTIFHUNG, 5000, &r);
  ExpectText("chooser file name", TextOf(field), path);
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(chooser, IDOK));
  if (exists) {
    // The question box belongs to the chooser; it has a Yes button.
    HWND question = nullptr;
    bool asked = WaitFor(kWindowWait, [&] {
      for (HWND h : DialogsOf(p.pid))
        if (h != chooser && IsWindowVisible(h) && GetDlgItem(h, IDYES)) return (question = h) != nullptr;
      return false;
    });
    if (!asked) {
      if (!IsWindow(chooser)) Fail("the chooser closed without asking to replace the existing file");
      Fail("the question whether to replace the file did not appear");
    }
    PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), (LPARAM)GetDlgItem(question, IDYES));
    WaitGone(question, "the replace question");
  }
  WaitGone(chooser, "the file chooser");
}

enum class CloseBy { kCancel, kCloseBox, kEscKey };

// Ends the program (IDCANCEL, the close box's WM_CLOSE, or the Esc key sent
// to the focused control as the keyboard would) and checks its exit code.
void Close(Program& p, CloseBy how = CloseBy::kCancel) {
  switch (how) {
    case CloseBy::kCancel:
      PostMessageW(p.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      break;
    case CloseBy::kCloseBox:
      PostMessageW(p.dialog, WM_CLOSE, 0, 0);
      break;
    case CloseBy::kEscKey:
      PostMessageW(GetDlgItem(p.dialog, kIdDescription), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageW(GetDlgItem(p.dialog, kIdDescription), WM_KEYUP, VK_ESCAPE, 0xC0010001);
      break;
  }
  if (WaitForSingleObject(p.process, kCloseWait) != WAIT_OBJECT_0) Fail("the program did not exit");
  DWORD code = 0;
  GetExitCodeProcess(p.process, &code);
  if (code != 2) Fail("exit code %lu, want 2", code);
}

// Applies through the dialog: "打补丁", pick `target`, answer the question,
// expect `message`.
void ApplyVia(const Program& p, const std::wstring& target, const std::wstring& message) {
  Press(p.dialog, kIdApply);
  Choose(p, target);
  ExpectMessage(p, message);
}

// For the demo: tells the shell that a screenshot can be taken (writing the
// window's rectangle) and waits until it has been.
void Shot(const wchar_t* name, std::vector<HWND> windows) {
  auto it = g_args.find(L"shots");
  if (it == g_args.end()) return;
  RECT all = {};
  for (HWND h : windows) {
    RECT r;
    GetWindowRect(h, &r);
    UnionRect(&all, &all, &r);
  }
  std::wstring base = it->second + L"\\" + name;
  char rect[100];
  snprintf(rect, sizeof rect, "%ldx%ld+%ld+%ld\n", all.right - all.left, all.bottom - all.top,
           all.left, all.top);
  HANDLE h = CreateFileW((base + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n;
  WriteFile(h, rect, (DWORD)strlen(rect), &n, nullptr);
  CloseHandle(h);
  std::wstring done = base + L".done";
  if (!WaitFor(30000, [&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }))
    Fail("no screenshot was taken of %s", Utf8(name).c_str());
}

// --- scenarios --------------------------------------------------------------

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
  std::wstring target = Arg(L"target");
  PlaceTarget(target);
  std::string original = MustRead(target);
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  Press(p.dialog, kIdApply);
  HWND chooser = WaitChooser(p);
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(chooser, IDCANCEL));
  WaitGone(chooser, "the cancelled chooser");
  ExpectNoMessage(p);
  ExpectFile(target, original, "after cancelling");
  // The dialog still works after a cancelled run.
  ApplyVia(p, target, kMsgSuccess);
  Close(p);
}

// Another program holds the target open without sharing it.
void ScenarioLocked() {
  std::wstring target = Arg(L"target");
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
  std::wstring target = Arg(L"target");
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
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(chooser, IDOK));
  // The chooser asks whether to replace the file (or, on some systems, refuses
  // a read-only file itself); either way the file must stay as it is, and the
  // report is the open failure.
  HWND question = nullptr;
  if (!WaitFor(kWindowWait, [&] {
        for (HWND h : DialogsOf(p.pid))
          if (h != chooser && IsWindowVisible(h) && GetDlgItem(h, IDYES)) return (question = h) != nullptr;
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
  std::wstring target = Arg(L"target");
  PlaceTarget(target);
  std::string original = MustRead(target);
  Program p = Launch(Arg(L"program"));
  p.dialog = WaitMainDialog(p.pid);
  ApplyVia(p, target, kMsgBadRecordType);
  ExpectFile(target, original, "after the damaged patch");
  Close(p);
}

// The stub with nothing appended: "初始化失败", then the program ends without
// ever showing its dialog.
void ScenarioNoPatch() {
  Program p = Launch(Arg(L"program"));
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
  std::wstring target = Arg(L"target");
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
  p.process = g_dialogProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, p.pid);
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

// A target path of exactly `units` UTF-16 units (without the terminator).
std::wstring PathOfLength(size_t units) {
  std::wstring dir = Arg(L"work") + L"\\long";
  CreateDirectoryW(dir.c_str(), nullptr);
  // Folders of 50 units until the rest fits into one file name.
  while (dir.size() + 1 + 60 < units) {
    dir += L"\\" + std::wstring(49, L'd') + L"补";
    CreateDirectoryW(dir.c_str(), nullptr);
  }
  size_t rest = units - dir.size() - 1;
  if (rest < 5) Fail("cannot build a path of %zu units", units);
  return dir + L"\\" + std::wstring(rest - 4, L'f') + L".rom";
}

// 259 units: the longest path the chooser's 260-unit buffer holds.
void ScenarioPath259() {
  std::wstring target = PathOfLength(259);
  if (target.size() != 259) Fail("built a path of %zu units", target.size());
  ScenarioApply(target);
}

// Types `path` into the chooser and confirms it, answering whatever the
// chooser asks, until it closes; a chooser that stays open (it went into a
// folder, or complained) is cancelled. Returns the text of the program's
// report, after dismissing it, or an empty text when it reports nothing.
std::wstring ChooseAnything(const Program& p, const std::wstring& path) {
  Press(p.dialog, kIdApply);
  HWND chooser = WaitChooser(p);
  HWND field = NameField(chooser);
  DWORD_PTR r;
  SendMessageTimeoutW(field, WM_SETTEXT, 0, (LPARAM)path.c_str(), SMTO_ABORTIFHUNG, 5000, &r);
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(chooser, IDOK));
  DWORD start = GetTickCount(), quietSince = GetTickCount();
  bool cancelled = false;
  while (IsWindow(chooser)) {
    if (GetTickCount() - start > kWindowWait) Fail("the chooser did not close");
    for (HWND h : DialogsOf(p.pid)) {
      if (h == chooser || !IsWindowVisible(h) || GetWindow(h, GW_OWNER) != chooser) continue;
      std::wstring text = GetDlgItem(h, kIdMsgText) ? TextOf(GetDlgItem(h, kIdMsgText)) : L"";
      Note("the chooser says " + Quote(text));
      int answer = GetDlgItem(h, IDYES) ? IDYES : IDOK;
      PostMessageW(h, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
      WaitGone(h, "the chooser's question");
      quietSince = GetTickCount();
    }
    if (!cancelled && GetTickCount() - quietSince > kQuietWait) {
      Note("the chooser stays open: cancelled");
      PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      cancelled = true;
    }
    Sleep(30);
  }
  HWND box = nullptr;
  if (!WaitFor(kQuietWait, [&] { return (box = FindMessageBox(p.pid)) != nullptr; })) return L"";
  std::wstring text = TextOf(GetDlgItem(box, kIdMsgText));
  Note("reported " + Quote(text));
  ExpectMessage(p, text);
  return text;
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
  if (!said.empty() && said != kMsgTargetOpen) Fail("a folder as the target gave %s", Quote(said).c_str());
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
  std::wstring said = ChooseAnything(p, Arg(L"target"));
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
const wchar_t kRecorderName[] = L"IEXPLORE.exe";

std::wstring RecorderLog(const std::wstring& recorder) { return DirOf(recorder) + L"\\browser.log"; }

// Run as the recorder: one line per start, the command line after the
// program's own name.
int RecordBrowserStart() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = GetCommandLineW();
  size_t skip = line[0] == L'"' ? line.find(L'"', 1) + 1 : line.find(L' ');
  line = skip == std::wstring::npos ? L"" : line.substr(skip);
  while (!line.empty() && line[0] == L' ') line.erase(0, 1);
  std::string bytes = Utf8(line) + "\n";
  HANDLE h = CreateFileW(RecorderLog(self).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, 0, nullptr);
  DWORD n;
  WriteFile(h, bytes.data(), (DWORD)bytes.size(), &n, nullptr);
  CloseHandle(h);
  return 0;
}

void ScenarioBanners() {
  std::wstring dir = Arg(L"work") + L"\\browser";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring recorder = dir + L"\\" + kRecorderName;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (!CopyFileW(self, recorder.c_str(), FALSE)) Fail("cannot copy the recorder (error %lu)", GetLastError());
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
  RECT site = rectOf(1005), forum = rectOf(1006), text = rectOf(kIdDescription);
  struct Click {
    const char* where;
    LONG x, y;
    const wchar_t* opens;  // null: nothing
  } clicks[] = {
      {"the site banner", (site.left + site.right) / 2, (site.top + site.bottom) / 2, kSitePage},
      {"the forum banner", (forum.left + forum.right) / 2, (forum.top + forum.bottom) / 2, kForumPage},
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
      got = got.substr(got.find_last_of('\n') == std::string::npos ? 0 : got.find_last_of('\n') + 1);
      lines = n;
      return true;
    };
    if (c.opens) {
      if (!WaitFor(kWindowWait, more)) Fail("a click on %s opened nothing", c.where);
      if (got != Utf8(c.opens)) Fail("a click on %s opened \"%s\", want \"%s\"", c.where, got.c_str(), Utf8(c.opens).c_str());
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
void ScenarioSelfLink() { ExpectSelfRefused(Arg(L"program"), Arg(L"target")); }

int Run() {
  const std::wstring& s = g_scenario;
  if (s == L"info") ScenarioInfo();
  else if (s == L"apply") ScenarioApply(Arg(L"target"));
  else if (s == L"cancel") ScenarioCancel();
  else if (s == L"locked") ScenarioLocked();
  else if (s == L"readonly") ScenarioReadOnly();
  else if (s == L"damaged") ScenarioDamaged();
  else if (s == L"nopatch") ScenarioNoPatch();
  else if (s == L"escape") ScenarioEscape();
  else if (s == L"cmd") ScenarioCmd();
  else if (s == L"cjk") ScenarioCjk();
  else if (s == L"shortname") ScenarioShortName();
  else if (s == L"path259") ScenarioPath259();
  else if (s == L"path260") ScenarioPath260();
  else if (s == L"longprogram") ScenarioLongProgram();
  else if (s == L"banners") ScenarioBanners();
  else if (s == L"self") ScenarioSelf();
  else if (s == L"folder") ScenarioFolder();
  else if (s == L"fifo") ScenarioFifo();
  else if (s == L"dash") ScenarioDash();
  else if (s == L"selflink") ScenarioSelfLink();
  else Fail("unknown scenario");
  Out("PASS " + Utf8(s) + "\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring selfName = self;
  selfName = selfName.substr(selfName.find_last_of(L'\\') + 1);
  if (_wcsicmp(selfName.c_str(), kRecorderName) == 0) return RecordBrowserStart();
  if (argc < 2) {
    Out("usage: zelp_wine_driver SCENARIO key=value...\n");
    return 2;
  }
  g_scenario = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::wstring a = argv[i];
    size_t eq = a.find(L'=');
    if (eq == std::wstring::npos) Fail("argument %s is not key=value", Utf8(a).c_str());
    g_args[a.substr(0, eq)] = a.substr(eq + 1);
  }
  return Run();
}
