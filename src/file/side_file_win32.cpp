// The side files of a target on Windows.
#include <aclapi.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/win_text.h"
#include "file/side_file.h"

namespace {

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

// A security identifier's bytes (no std::string: the patch program carries
// none of the library's narrow strings).
using Sid = std::vector<uint8_t>;

Sid Bytes(PSID sid) {
  const auto* p = static_cast<const uint8_t*>(sid);
  return Sid(p, p + GetLengthSid(sid));
}

// The owner of the object behind `h`; false where the file system keeps no
// owners.
bool OwnerOf(HANDLE h, Sid& sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &sd) != ERROR_SUCCESS)
    return false;
  bool ok = owner && IsValidSid(owner);
  if (ok) sid = Bytes(owner);
  LocalFree(sd);
  return ok;
}

// The owner this process gives the files it creates.
bool OwnOwner(Sid& sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  char buf[256];
  DWORD n = 0;
  bool ok = GetTokenInformation(token, TokenOwner, buf, sizeof buf, &n);
  CloseHandle(token);
  if (!ok) return false;
  sid = Bytes(reinterpret_cast<TOKEN_OWNER*>(buf)->Owner);
  return true;
}

}  // namespace

bool zelp::IdentityOf(CKOVA_File& file, FileIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.handle || !GetFileInformationByHandle(H(file.handle), &info)) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool zelp::OwnFolderOf(const char16_t* path, CKOVA_File& file, std::u16string& folder) {
  if (!path) return false;
  std::u16string full;
  // Links resolved where the platform can say (Vista and later); before
  // that, the folder of the name given.
  using Final = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
  auto final = reinterpret_cast<Final>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
  if (final && file.handle) {
    wchar_t buf[32768];
    DWORD n = final(H(file.handle), buf, 32768, 0);
    if (n > 0 && n < 32768) full.assign(as_u16cstr(buf), n);
  }
  if (full.empty()) full = path;
  size_t slash = full.find_last_of(u"\\/");
  folder = slash == std::u16string::npos ? u"" : full.substr(0, slash + 1);
  return true;
}

bool zelp::CreateNew(const char16_t* path, CKOVA_File& file) {
  file.Close();
  if (!path) return false;
  // Others may delete it (a leftover is removed by the next run) but never
  // write it; CREATE_NEW fails on anything already there, a link included.
  HANDLE h =
      CreateFileW(as_wcstr(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file.handle = h;
  return true;
}

zelp::Trust zelp::OpenTrusted(const char16_t* path, CKOVA_File& file, CKOVA_File& owner) {
  file.Close();
  if (!path) return Trust::kMissing;
  HANDLE h = CreateFileW(as_wcstr(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    // A name too long for the folder cannot be there either.
    bool gone = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ||
                e == ERROR_FILENAME_EXCED_RANGE || e == ERROR_INVALID_NAME;
    return gone ? Trust::kMissing : Trust::kUntrusted;
  }
  BY_HANDLE_FILE_INFORMATION info;
  bool trusted =
      GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
      !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
      info.nNumberOfLinks == 1;
  // Owners are compared where the file system keeps them.
  Sid mine, theirs, own;
  if (trusted && OwnerOf(h, mine) && owner.handle && OwnerOf(H(owner.handle), theirs))
    trusted = mine == theirs || (OwnOwner(own) && mine == own);
  if (!trusted) {
    CloseHandle(h);
    return Trust::kUntrusted;
  }
  file.handle = h;
  return Trust::kTrusted;
}

bool zelp::FreeSpace(const char16_t* folder, uint64_t& bytes) {
  ULARGE_INTEGER free;
  if (!folder || !GetDiskFreeSpaceExW(as_wcstr(folder), &free, nullptr, nullptr)) return false;
  bytes = free.QuadPart;
  return true;
}

bool zelp::Preallocate(CKOVA_File& file, int64_t size) {
  // NTFS allocates the clusters when the end of the file moves.
  return size <= 0 || (file.Seek(size) && file.SetEnd() && file.Seek(0));
}
