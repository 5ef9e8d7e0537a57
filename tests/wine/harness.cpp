// The driver's harness: arguments, output, files, and the windows of the
// program under test as a user sees them. The scenarios are in scenarios.cpp.
#include "harness.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace driver {

const wchar_t kFilterName[] = L"要打补丁的文件";
const int kIdMsgText = 0xFFFF;     // the text of a message box
const int kIdNameCombo = 0x47C;    // cmb13: file name, newer chooser layout
const int kIdNameEdit = 0x480;     // edt1: file name, older layout
const int kIdTypeCombo = 0x470;    // cmb1: file types
const int kIdReadOnlyBox = 0x410;  // chx1: "open read-only"

const wchar_t kRecorderName[] = L"IEXPLORE.exe";

std::wstring Work(const std::wstring& name) { return Arg(L"work") + L"\\" + name; }

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
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
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

bool IsChooser(HWND h) { return GetDlgItem(h, kIdNameEdit) || GetDlgItem(h, kIdNameCombo); }

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
    if (box)
      Fail("no main dialog; a message box says %s",
           Quote(TextOf(GetDlgItem(box, kIdMsgText))).c_str());
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
      if (GetDlgCtrlID(c) != IDOK)
        Fail("the message box has a button other than OK (id %d)", GetDlgCtrlID(c));
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
    if (box)
      Fail("no file chooser; a message box says %s",
           Quote(TextOf(GetDlgItem(box, kIdMsgText))).c_str());
    Fail("the file chooser did not appear");
  }
  // What the user sees of the request: the one filter, no read-only box.
  if (HWND types = GetDlgItem(chooser, kIdTypeCombo)) {
    std::wstring shown = TextOf(types);
    if (shown.compare(0, wcslen(kFilterName), kFilterName) != 0)
      Fail("the chooser's file type shows %s, want %s", Quote(shown).c_str(),
           Quote(kFilterName).c_str());
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
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               (LPARAM)GetDlgItem(chooser, IDOK));
  if (exists) {
    // The question box belongs to the chooser; it has a Yes button.
    HWND question = nullptr;
    bool asked = WaitFor(kWindowWait, [&] {
      for (HWND h : DialogsOf(p.pid))
        if (h != chooser && IsWindowVisible(h) && GetDlgItem(h, IDYES))
          return (question = h) != nullptr;
      return false;
    });
    if (!asked) {
      if (!IsWindow(chooser))
        Fail("the chooser closed without asking to replace the existing file");
      Fail("the question whether to replace the file did not appear");
    }
    PostMessageW(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                 (LPARAM)GetDlgItem(question, IDYES));
    WaitGone(question, "the replace question");
  }
  WaitGone(chooser, "the file chooser");
}

// Ends the program (IDCANCEL, the close box's WM_CLOSE, or the Esc key sent
// to the focused control as the keyboard would) and checks its exit code.
void Close(Program& p, CloseBy how) {
  switch (how) {
    case CloseBy::kCancel: PostMessageW(p.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0); break;
    case CloseBy::kCloseBox: PostMessageW(p.dialog, WM_CLOSE, 0, 0); break;
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
  HANDLE h =
      CreateFileW((base + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n;
  WriteFile(h, rect, (DWORD)strlen(rect), &n, nullptr);
  CloseHandle(h);
  std::wstring done = base + L".done";
  if (!WaitFor(30000, [&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }))
    Fail("no screenshot was taken of %s", Utf8(name).c_str());
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
  PostMessageW(chooser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               (LPARAM)GetDlgItem(chooser, IDOK));
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

std::wstring RecorderLog(const std::wstring& recorder) {
  return DirOf(recorder) + L"\\browser.log";
}

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

}  // namespace driver

using namespace driver;

namespace {

void List() {
  for (size_t i = 0; i < kScenarioCount; ++i)
    Out(std::string(kScenarios[i].name) + (kScenarios[i].asNobody ? " nobody" : "") + "\n");
}

int Run() {
  for (size_t i = 0; i < kScenarioCount; ++i) {
    if (g_scenario != Wide(kScenarios[i].name)) continue;
    kScenarios[i].run();
    Out("PASS " + Utf8(g_scenario) + "\n");
    return 0;
  }
  Fail("unknown scenario");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring selfName = self;
  selfName = selfName.substr(selfName.find_last_of(L'\\') + 1);
  if (_wcsicmp(selfName.c_str(), kRecorderName) == 0) return RecordBrowserStart();
  if (argc == 2 && std::wstring(argv[1]) == L"--list") {
    List();
    return 0;
  }
  if (argc < 2) {
    Out("usage: zelp_wine_driver --list | SCENARIO key=value...\n");
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
