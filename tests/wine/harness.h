// Drives the real patch program the way a user would, through window
// messages, and checks what it shows and what it does to the target file.
//
//   zelp_wine_driver --list                 the scenarios, one a line
//   zelp_wine_driver SCENARIO key=value...  runs one
//
// Keys (Windows paths): program (the patch program), work (the folder with
// the fixtures, where each scenario makes its target), original, expected
// (the patched result), desc and summary (UTF-8 files with the exact texts
// the dialog must show), shots (a folder for screenshot hand-shakes, demo
// only).
//
// Exit status: 0 passed, 1 failed, 77 skipped. Every wait has a deadline, so
// a window that never appears fails the scenario instead of hanging it; the
// program under test is terminated on every failure.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace driver {

const wchar_t kCaption[] = L"ZELP补丁程序(Varnel版) 3.0.2007.09290";
const wchar_t kMsgSuccess[] = L"补丁成功";
const wchar_t kMsgInitFailed[] = L"初始化失败";
const wchar_t kMsgCrcMismatch[] = L"目标文件没有通过CRC32验证";
const wchar_t kMsgTargetOpen[] = L"目标文件打开失败";
const wchar_t kMsgBadRecordType[] = L"非法的ZELP补丁文件(2)";

const int kIdDescription = 1002;
const int kIdSummary = 1003;
const int kIdApply = 1004;
const int kIdSite = 1005;
const int kIdForum = 1006;

const DWORD kWindowWait = 20000;  // a window to appear (first start of a prefix is slow)
const DWORD kCloseWait = 10000;   // a window to go away or a process to end
const DWORD kQuietWait = 1500;    // how long "nothing appears" is watched

// One scenario. `asNobody`: to be run by an unprivileged user (the read-only
// attribute does not stop root).
struct Scenario {
  const char* name;
  void (*run)();
  bool asNobody;
};
extern const Scenario kScenarios[];
extern const size_t kScenarioCount;

extern std::map<std::wstring, std::wstring> g_args;
extern HANDLE g_child;          // the program under test (or cmd.exe)
extern HANDLE g_dialogProcess;  // the dialog's process when g_child is cmd.exe

std::string Utf8(const std::wstring& w);
std::string Quote(const std::wstring& w);
[[noreturn]] void Fail(const char* fmt, ...);
[[noreturn]] void Skip(const char* why);
void Note(const std::string& s);
void ExpectText(const char* what, const std::wstring& got, const std::wstring& want);

const std::wstring& Arg(const wchar_t* key);
// A path in the work folder.
std::wstring Work(const std::wstring& name);
bool ReadAll(const std::wstring& path, std::string* out);
std::string MustRead(const std::wstring& path);
std::wstring TextFile(const wchar_t* key);
void ExpectFile(const std::wstring& path, const std::string& want, const char* what);
void PlaceTarget(const std::wstring& path);
std::wstring DirOf(const std::wstring& path);
std::wstring PathOfLength(size_t units);

bool WaitFor(DWORD ms, const std::function<bool()>& done);
std::wstring TextOf(HWND h);
DWORD PidOf(HWND h);
// Top-level dialogs of the process (0: of any process).
std::vector<HWND> DialogsOf(DWORD pid);
bool IsMainDialog(HWND h);
// A visible message box of the process, or null.
HWND FindMessageBox(DWORD pid);

struct Program {
  DWORD pid = 0;
  HANDLE process = nullptr;
  HWND dialog = nullptr;
};

HWND WaitMainDialog(DWORD pid);
HANDLE Start(const std::wstring& application, const std::wstring& commandLine,
             const std::wstring& directory, DWORD* pid);
Program Launch(const std::wstring& path);
// Posted, never sent: the buttons open modal windows.
void Press(HWND dialog, int id);
void WaitGone(HWND h, const char* what);
// Waits for the program's message box, checks it (caption, text, one OK
// button, owned by the main dialog when there is one) and dismisses it.
void ExpectMessage(const Program& p, const std::wstring& want);
void ExpectNoMessage(const Program& p);
HWND WaitChooser(const Program& p);
HWND NameField(HWND chooser);
// Types `path` into the chooser, answers whatever it asks until it closes
// (cancels it if it stays open); returns the program's report, dismissed,
// or an empty text.
std::wstring ChooseAnything(const Program& p, const std::wstring& path);

enum class CloseBy { kCancel, kCloseBox, kEscKey };
// Ends the program and checks its exit code.
void Close(Program& p, CloseBy how = CloseBy::kCancel);
// "打补丁", pick `target`, answer the question, expect `message`.
void ApplyVia(const Program& p, const std::wstring& target, const std::wstring& message);
// For the demo: lets the shell take a screenshot of the windows.
void Shot(const wchar_t* name, std::vector<HWND> windows);

// A copy of this driver named kRecorderName records the command lines it is
// started with, one a line, in RecorderLog beside it.
extern const wchar_t kRecorderName[];
std::wstring RecorderLog(const std::wstring& recorder);

}  // namespace driver
