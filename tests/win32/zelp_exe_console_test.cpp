// zelp.exe writing to a real console: the text must arrive as UTF-16
// characters (WriteConsoleW), whatever the console's code page. The
// redirected case is compared with the native tool by
// scripts/check-zelp-exe.sh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win_test_util.h"

using namespace zelp_test;

namespace {

std::wstring ZelpExe() {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self);
  dir.erase(dir.rfind(L'\\') + 1);
  return dir + L"..\\..\\src\\cli\\zelp.exe";  // build/win64/tests/win32 -> src/cli
}

std::string Le(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// Reads the first `rows` rows of the console screen buffer, each row as the
// characters it shows with trailing blanks removed.
std::vector<std::wstring> ScreenRows(HANDLE out, int rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  GetConsoleScreenBufferInfo(out, &info);
  std::vector<std::wstring> result;
  for (short y = 0; y < rows; ++y) {
    std::wstring row(info.dwSize.X, L' ');
    DWORD n = 0;
    ReadConsoleOutputCharacterW(out, &row[0], info.dwSize.X, COORD{0, y}, &n);
    row.resize(n);
    // A double-width character may be followed by a repeat of itself for
    // its second cell: keep one.
    std::wstring clean;
    for (wchar_t c : row)
      if (clean.empty() || c != clean.back() || c < 0x2E80) clean += c;
    while (!clean.empty() && clean.back() == L' ') clean.pop_back();
    result.push_back(clean);
  }
  return result;
}

TEST(ZelpExeConsole, ChineseTextReachesTheConsoleAsCharacters) {
  std::wstring exe = ZelpExe();
  if (!Exists(exe)) GTEST_SKIP() << "zelp.exe not built";
  TempDir dir;
  // A patch of version 3.0 with no CRC check and no description.
  std::string patch = std::string("KOVA-PATCH3.0\0\0\0", 16) + Le(7, 8) + Le(0, 4) + Le(40, 4) +
                      Le(0, 8) + std::string("\xFF", 1);
  ASSERT_TRUE(WriteWholeFile(dir / L"p.zelp", patch));

  // A console of our own, which the child inherits; the CRT's handles of
  // this process stay where they were.
  HANDLE savedOut = GetStdHandle(STD_OUTPUT_HANDLE), savedErr = GetStdHandle(STD_ERROR_HANDLE);
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  HANDLE screen =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  // A code page in which the UTF-8 bytes of the text would read otherwise.
  SetConsoleOutputCP(437);

  std::wstring cmd = L"\"" + exe + L"\" info \"" + dir.path() + L"p.zelp\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  BOOL started =
      CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  DWORD code = 99;
  if (started) {
    WaitForSingleObject(pi.hProcess, 30000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  std::vector<std::wstring> rows = ScreenRows(screen, 3);
  CloseHandle(screen);
  FreeConsole();
  SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
  SetStdHandle(STD_ERROR_HANDLE, savedErr);

  ASSERT_TRUE(started);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(rows[0], L"补丁版本: KOVA-PATCH3.0");
  EXPECT_EQ(rows[1], L"目标文件的CRC32验证: 无");
  EXPECT_EQ(rows[2], L"打补丁后的文件大小: 7");
}

}  // namespace
