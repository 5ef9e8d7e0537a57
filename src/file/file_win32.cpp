// CKOVA_File over Win32 file handles.
#include <windows.h>

#include "common/text.h"
#include "common/win_text.h"
#include "file/file.h"
#include "file/short_path.h"

namespace {

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

// The platform's move call takes a signed 32-bit low half: larger distances
// are made in steps of at most this much.
constexpr LONG kMaxStep = 0x7FFFFFFF;

}  // namespace

CKOVA_File::~CKOVA_File() { Close(); }

uint32_t CKOVA_File::Read(void* buffer, uint32_t count) {
  if (!handle) return 0;
  DWORD got = 0;
  if (!ReadFile(H(handle), buffer, count, &got, nullptr)) return 0;
  return got;
}

uint32_t CKOVA_File::Write(const void* buffer, uint32_t count) {
  if (!handle) return 0;
  DWORD put = 0;
  if (!WriteFile(H(handle), buffer, count, &put, nullptr)) return 0;
  return put;
}

void CKOVA_File::Close() {
  if (handle) CloseHandle(H(handle));
  handle = nullptr;
}

void CKOVA_File::GetSize(int64_t& size) {
  LARGE_INTEGER s;
  if (handle && GetFileSizeEx(H(handle), &s)) size = s.QuadPart;
}

int CKOVA_File::Tell(int64_t& position) {
  if (!handle) return 0;
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(H(handle), 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return 0;
  position = (static_cast<int64_t>(high) << 32) | low;
  return 1;
}

namespace {

// One platform move; an all-ones low half is only a failure when the
// platform says so.
bool Move(HANDLE h, LONG low, LONG high, DWORD method) {
  SetLastError(NO_ERROR);
  DWORD r = SetFilePointer(h, low, &high, method);
  return r != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

}  // namespace

bool CKOVA_File::Seek(int64_t position) {
  if (!handle || position < 0) return false;
  LONG high = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  DWORD low = static_cast<DWORD>(position);
  if (low <= static_cast<DWORD>(kMaxStep))
    return Move(H(handle), static_cast<LONG>(low), high, FILE_BEGIN);
  if (!Move(H(handle), kMaxStep, high, FILE_BEGIN)) return false;
  DWORD rest = low - static_cast<DWORD>(kMaxStep);
  while (rest > 0) {
    DWORD step = rest < static_cast<DWORD>(kMaxStep) ? rest : static_cast<DWORD>(kMaxStep);
    if (!Move(H(handle), static_cast<LONG>(step), 0, FILE_CURRENT)) return false;
    rest -= step;
  }
  return true;
}

uint32_t CKOVA_File::Crc32() { return Crc32OfFile(*this); }

bool CKOVA_File::IsOpen() { return handle != nullptr; }

bool CKOVA_File::SetEnd() { return handle && SetEndOfFile(H(handle)); }

bool CKOVA_File::Reserve(int64_t size) {
  if (!handle || size < 0) return false;
  int64_t current = 0;
  if (!GetFileSizeEx(H(handle), reinterpret_cast<LARGE_INTEGER*>(&current))) return false;
  if (size <= current) return true;
  // NTFS allocates the clusters when the end of file moves, so a full disk
  // is refused here rather than in the middle of writing records.
  return Seek(size) && SetEndOfFile(H(handle));
}

bool CKOVA_File::Flush() { return handle && FlushFileBuffers(H(handle)); }

// One positioned write (WriteFile with an offset) instead of a move and a
// write.
int64_t CKOVA_File::WriteAt(int64_t position, const void* buffer, uint32_t count) {
  if (!handle || position < 0) return -1;
  // Writing nothing needs no position: a file system may not reach it.
  if (count == 0) return 0;
  DWORD put = 0;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(position);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
  if (WriteFile(H(handle), buffer, count, &put, &at) && put == count) return put;
  // Not all written: tell a position the file cannot
  // reach (a move would have failed) from a failed write, as Seek+Write do.
  if (!Seek(position)) return -1;
  return put;
}

namespace {

HANDLE OpenOnce(const char16_t* path, DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(as_wcstr(path), access, share, nullptr, disposition, 0, nullptr);
}

}  // namespace

int zelp::Open(const char16_t* path, CKOVA_File& file, int mode, int shareKind) {
  file.Close();
  DWORD access, disposition;
  switch (mode) {
    case kModeRead:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      break;
    case kModeWrite:
      access = GENERIC_WRITE;
      disposition = OPEN_EXISTING;
      break;
    case kModeReadWrite:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_EXISTING;
      break;
    case kModeCreate:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    default: return 0;
  }
  DWORD share;
  switch (shareKind) {
    case kShareReadWrite: share = FILE_SHARE_READ | FILE_SHARE_WRITE; break;
    case kShareWrite: share = FILE_SHARE_WRITE; break;
    case kShareRead: share = FILE_SHARE_READ; break;
    default: share = 0; break;
  }
  if (!path) return 0;
  HANDLE h = OpenOnce(path, access, share, disposition);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    // One more try under the short form, for names the platform could not
    // take in their long form.
    char16_t fallback[zelp::kPathUnits];
    if (!zelp::FallbackPath(path, mode, fallback)) return 0;
    h = OpenOnce(fallback, access, share, disposition);
  }
  if (h == INVALID_HANDLE_VALUE) return 0;
  // Only files on a disk: a device or a pipe (NUL, CON, a FIFO seen through
  // Wine) has no size to check and would swallow or withhold the records.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  file.handle = h;
  file.Seek(0);
  return 1;
}

bool zelp::PathExists(const char16_t* path) {
  return path && GetFileAttributesW(as_wcstr(path)) != INVALID_FILE_ATTRIBUTES;
}

bool zelp::RemovePath(const char16_t* path) { return path && DeleteFileW(as_wcstr(path)); }

bool zelp::SyncFolderOf(const char16_t*) { return true; }

bool zelp::RenamePath(const char16_t* from, const char16_t* to) {
  return from && to &&
         MoveFileExW(as_wcstr(from), as_wcstr(to),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
