// Temporary files and the final rename on Windows.
#include <windows.h>

#include <string>

#include "author/out_file.h"
#include "common/win_text.h"

namespace zelp::author {

namespace {

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

bool CreateTempBeside(const std::u16string& target, std::u16string& tempPath) {
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::u16string candidate = target + Ascii(".tmp-" + std::to_string(GetCurrentProcessId()) +
                                              "-" + std::to_string(InterlockedIncrement(&counter)));
    HANDLE h = CreateFileW(as_wcstr(candidate.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      tempPath = candidate;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool MoveIntoPlace(const std::u16string& from, const std::u16string& to) {
  return MoveFileExW(as_wcstr(from.c_str()), as_wcstr(to.c_str()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::u16string& path) { return DeleteFileW(as_wcstr(path.c_str())) != 0; }

bool SameFile(const std::u16string& a, const std::u16string& b) {
  auto identify = [](const std::u16string& path, BY_HANDLE_FILE_INFORMATION& info) {
    HANDLE h = CreateFileW(as_wcstr(path.c_str()), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return ok != 0;
  };
  BY_HANDLE_FILE_INFORMATION ia, ib;
  if (!identify(a, ia) || !identify(b, ib)) return false;
  return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace zelp::author
