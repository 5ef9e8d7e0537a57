// Output files on Windows: the path resolved to the final file (links
// followed), a temporary file created with CREATE_NEW beside it whose handle
// is the one written (a sparse file copied by its allocated ranges only),
// MoveFileExW to replace the output, and removal of the temporary file on
// Ctrl-C or a closed console.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/win_text.h"
#include "file/out_file.h"

namespace zelp {

namespace {

// The temporary file being built, for the console handler (another thread).
wchar_t g_temp[32768];
volatile LONG g_hasTemp = 0;

BOOL WINAPI RemoveTemp(DWORD) {
  if (InterlockedExchange(&g_hasTemp, 0)) DeleteFileW(g_temp);
  return FALSE;  // and let the default handler end the process
}

void Track(const std::u16string& temp) {
  static bool installed = false;
  if (!installed) installed = SetConsoleCtrlHandler(RemoveTemp, TRUE) != 0;
  InterlockedExchange(&g_hasTemp, 0);
  if (temp.size() >= sizeof g_temp / sizeof g_temp[0]) return;
  for (size_t i = 0; i <= temp.size(); ++i) g_temp[i] = i < temp.size() ? temp[i] : 0;
  InterlockedExchange(&g_hasTemp, 1);
}

void Untrack() { InterlockedExchange(&g_hasTemp, 0); }

std::u16string Hex(unsigned v) {
  std::u16string s;
  for (int shift = 28; shift >= 0; shift -= 4) s += u"0123456789abcdef"[(v >> shift) & 15];
  return s;
}

// A new file named `prefix` + a number + ".tmp"; its handle, or invalid.
HANDLE CreateNew(const std::u16string& prefix, DWORD access, DWORD share, DWORD flags,
                 std::u16string& name) {
  static LONG counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = prefix + Hex(GetCurrentProcessId() * 7919u + InterlockedIncrement(&counter)) + u".tmp";
    HANDLE h =
        CreateFileW(as_wcstr(name.c_str()), access, share, nullptr, CREATE_NEW, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) return h;
    DWORD e = GetLastError();
    if (e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) break;
  }
  return INVALID_HANDLE_VALUE;
}

enum class Kind { kNew, kRegular, kOther, kNoFolder };

Kind Resolve(const std::u16string& path, std::u16string& real) {
  HANDLE h =
      CreateFileW(as_wcstr(path.c_str()), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    if (e != ERROR_FILE_NOT_FOUND)
      return e == ERROR_PATH_NOT_FOUND ? Kind::kNoFolder : Kind::kOther;
    DWORD folder = GetFileAttributesW(as_wcstr(FolderOf(path).c_str()));
    if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY))
      return Kind::kNoFolder;
    real = path;
    return Kind::kNew;
  }
  Kind kind = Kind::kOther;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    std::vector<wchar_t> buffer(32768);
    DWORD n = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n > 0 && n < buffer.size()) {
      real.assign(as_u16cstr(buffer.data()), n);
      kind = Kind::kRegular;
    }
  }
  CloseHandle(h);
  return kind;
}

bool CopyToStdout(HANDLE from) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  LARGE_INTEGER zero = {};
  if (out == nullptr || out == INVALID_HANDLE_VALUE ||
      !SetFilePointerEx(from, zero, nullptr, FILE_BEGIN))
    return false;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
      return false;
    if (got == 0) return true;
    for (DWORD done = 0; done < got;) {
      DWORD n = 0;
      if (!WriteFile(out, buffer.data() + done, got - done, &n, nullptr) || n == 0) return false;
      done += n;
    }
  }
}

// Positioned reads and writes on handles opened for synchronous use.
bool ReadAt(HANDLE h, char* data, DWORD size, int64_t at, DWORD& got) {
  OVERLAPPED o = {};
  o.Offset = static_cast<DWORD>(at);
  o.OffsetHigh = static_cast<DWORD>(at >> 32);
  got = 0;
  if (ReadFile(h, data, size, &got, &o)) return true;
  return GetLastError() == ERROR_HANDLE_EOF;
}

bool WriteAt(HANDLE h, const char* data, DWORD size, int64_t at) {
  for (DWORD done = 0; done < size;) {
    OVERLAPPED o = {};
    o.Offset = static_cast<DWORD>(at + done);
    o.OffsetHigh = static_cast<DWORD>((at + done) >> 32);
    DWORD n = 0;
    if (!WriteFile(h, data + done, size - done, &n, &o) || n == 0) return false;
    done += n;
  }
  return true;
}

enum class Sparse { kCopied, kFailed, kNotSparse };

// Copies a sparse `from` into the empty `to` by its allocated ranges only, so
// that the holes stay holes; kNotSparse when `from` is not sparse or the file
// system cannot list or make holes (nothing is written then).
Sparse CopySparse(HANDLE from, HANDLE to) {
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  if (!GetFileInformationByHandle(from, &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) || !GetFileSizeEx(from, &size))
    return Sparse::kNotSparse;
  std::vector<FILE_ALLOCATED_RANGE_BUFFER> ranges(64);
  FILE_ALLOCATED_RANGE_BUFFER query = {};
  query.Length.QuadPart = size.QuadPart;
  DWORD got = 0;
  // Asked once before anything is written: where the file system cannot
  // list the ranges, the whole copy is made instead.
  BOOL listed =
      DeviceIoControl(from, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, ranges.data(),
                      static_cast<DWORD>(ranges.size() * sizeof ranges[0]), &got, nullptr);
  if (!listed && GetLastError() != ERROR_MORE_DATA) return Sparse::kNotSparse;
  DWORD unused = 0;
  if (!DeviceIoControl(to, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr))
    return Sparse::kNotSparse;
  FILE_END_OF_FILE_INFO end = {};
  end.EndOfFile = size;
  if (!SetFileInformationByHandle(to, FileEndOfFileInfo, &end, sizeof end)) return Sparse::kFailed;
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const size_t count = got / sizeof ranges[0];
    for (size_t i = 0; i < count; ++i) {
      int64_t at = ranges[i].FileOffset.QuadPart;
      const int64_t stop = (std::min)(at + ranges[i].Length.QuadPart, size.QuadPart);
      while (at < stop) {
        DWORD n = static_cast<DWORD>((std::min)(static_cast<int64_t>(buffer.size()), stop - at));
        DWORD read = 0;
        if (!ReadAt(from, buffer.data(), n, at, read) || read == 0 ||
            !WriteAt(to, buffer.data(), read, at))
          return Sparse::kFailed;
        at += read;
      }
      query.FileOffset.QuadPart = stop;
    }
    if (listed) break;
    if (count == 0) return Sparse::kFailed;  // no progress
    query.Length.QuadPart = size.QuadPart - query.FileOffset.QuadPart;
    if (query.Length.QuadPart <= 0) break;
    listed =
        DeviceIoControl(from, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query, ranges.data(),
                        static_cast<DWORD>(ranges.size() * sizeof ranges[0]), &got, nullptr);
    if (!listed && GetLastError() != ERROR_MORE_DATA) return Sparse::kFailed;
  }
  LARGE_INTEGER now;
  return GetFileSizeEx(to, &now) && now.QuadPart == size.QuadPart ? Sparse::kCopied
                                                                  : Sparse::kFailed;
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  file_.Close();
  if (!created_) return;
  DeleteFileW(as_wcstr(temp_.c_str()));
  Untrack();
  created_ = false;
}

bool OutputFile::Create(const std::u16string& path, Bilingual& error) {
  Discard();
  toStdout_ = path == kStdoutName;
  if (toStdout_) {
    // Built in an unnamed-in-effect file that the system removes on close.
    wchar_t dir[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    std::u16string name;
    HANDLE h = n == 0 || n > MAX_PATH
                   ? INVALID_HANDLE_VALUE
                   : CreateNew(std::u16string(as_u16cstr(dir), n) + u"zelp",
                               GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, name);
    if (h == INVALID_HANDLE_VALUE) {
      error = CreateFaultText(CreateFault::kSpool, path);
      return false;
    }
    file_.handle = h;
    return true;
  }
  switch (Resolve(path, final_)) {
    case Kind::kNoFolder: error = CreateFaultText(CreateFault::kNoFolder, path); return false;
    case Kind::kOther: error = CreateFaultText(CreateFault::kNotRegular, path); return false;
    case Kind::kNew: replaces_ = false; break;
    case Kind::kRegular: replaces_ = true; break;
  }
  std::u16string folder = FolderOf(final_);
  if (folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
  // Others may read it, and the console handler may delete it while open.
  HANDLE h = CreateNew(folder + u"zelp", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, FILE_ATTRIBUTE_NORMAL, temp_);
  if (h == INVALID_HANDLE_VALUE) {
    error = CreateFaultText(CreateFault::kCannot, path);
    return false;
  }
  Track(temp_);
  created_ = true;
  file_.handle = h;
  return true;
}

bool OutputFile::CopyFrom(CKOVA_File& source, const std::u16string& sourcePath) {
  if (!created_) return false;
  // A sparse source: only its data is copied and the holes stay holes.
  if (source.IsOpen()) {
    HANDLE from = static_cast<HANDLE>(source.handle), to = static_cast<HANDLE>(file_.handle);
    LARGE_INTEGER zero = {}, kept = {};
    if (!SetFilePointerEx(from, zero, &kept, FILE_CURRENT)) return false;
    Sparse copied = CopySparse(from, to);
    if (!SetFilePointerEx(from, kept, nullptr, FILE_BEGIN)) return false;
    if (copied == Sparse::kFailed) return false;
    if (copied == Sparse::kCopied) return file_.Seek(0);
  }
  // CopyFileW needs the file closed; it is opened again only if it is still
  // the plain file made here (not a link put in its place meanwhile).
  BY_HANDLE_FILE_INFORMATION before, after;
  if (!GetFileInformationByHandle(static_cast<HANDLE>(file_.handle), &before)) return false;
  file_.Close();
  if (!CopyFileW(as_wcstr(sourcePath.c_str()), as_wcstr(temp_.c_str()), FALSE)) return false;
  SetFileAttributesW(as_wcstr(temp_.c_str()), FILE_ATTRIBUTE_NORMAL);  // not read-only
  HANDLE h = CreateFileW(as_wcstr(temp_.c_str()), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  file_.handle = h;
  return GetFileInformationByHandle(h, &after) &&
         !(after.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         after.dwVolumeSerialNumber == before.dwVolumeSerialNumber &&
         after.nFileIndexHigh == before.nFileIndexHigh &&
         after.nFileIndexLow == before.nFileIndexLow;
}

bool OutputFile::Commit(bool replace) {
  if (!file_.IsOpen()) return false;
  if (toStdout_) {
    bool ok = CopyToStdout(static_cast<HANDLE>(file_.handle));
    file_.Close();
    return ok;
  }
  if (!created_ || !file_.Flush()) return false;
  file_.Close();
  if (!MoveFileExW(as_wcstr(temp_.c_str()), as_wcstr(final_.c_str()),
                   (replace ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH))
    return false;
  created_ = false;
  Untrack();
  return true;
}

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

}  // namespace zelp
