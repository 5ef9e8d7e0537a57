// Helpers for the Windows unit tests: a private temporary folder and small
// file utilities written straight against Win32, independent of the code
// under test.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace zelp_test {

// A fresh folder under the temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The folder's path, ending in '\'.
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& dir);
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool Exists(const std::wstring& path);
int64_t SizeOf(const std::wstring& path);

inline const char16_t* U16(const std::wstring& s) {
  return reinterpret_cast<const char16_t*>(s.c_str());
}
inline std::wstring W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

}  // namespace zelp_test
