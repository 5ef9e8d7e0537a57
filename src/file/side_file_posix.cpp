// The side files of a target on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "common/text.h"
#include "file/side_file.h"

bool zelp::IdentityOf(CKOVA_File& file, FileIdentity& id) {
  struct stat st;
  if (file.handle < 0 || ::fstat(file.handle, &st) != 0) return false;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool zelp::OwnFolderOf(const char16_t* path, CKOVA_File&, std::u16string& folder) {
  std::string native;
  if (!path || !PathToNative(path, native)) return false;
  char* real = ::realpath(native.c_str(), nullptr);
  if (!real) return false;
  std::string resolved = real;
  ::free(real);
  size_t slash = resolved.rfind('/');
  if (slash == std::string::npos) return false;
  folder = PathFromNative(resolved.substr(0, slash + 1));
  return true;
}

bool zelp::CreateNew(const char16_t* path, CKOVA_File& file) {
  file.Close();
  std::string native;
  if (!path || !PathToNative(path, native)) return false;
  int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  file.handle = fd;
  return true;
}

zelp::Trust zelp::OpenTrusted(const char16_t* path, CKOVA_File& file, CKOVA_File& owner) {
  file.Close();
  std::string native;
  if (!path || !PathToNative(path, native)) return Trust::kMissing;
  // A name too long for the folder cannot be there either.
  auto gone = [] { return errno == ENOENT || errno == ENAMETOOLONG || errno == ENOTDIR; };
  struct stat at;
  if (::lstat(native.c_str(), &at) != 0) return gone() ? Trust::kMissing : Trust::kUntrusted;
  // O_NONBLOCK: a FIFO planted there must not hold the run.
  int fd = ::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return gone() ? Trust::kMissing : Trust::kUntrusted;
  struct stat st, of;
  bool trusted = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
                 owner.handle >= 0 && ::fstat(owner.handle, &of) == 0 &&
                 (st.st_uid == of.st_uid || st.st_uid == ::geteuid());
  if (!trusted) {
    ::close(fd);
    return Trust::kUntrusted;
  }
  file.handle = fd;
  return Trust::kTrusted;
}

bool zelp::FreeSpace(const char16_t* folder, uint64_t& bytes) {
  std::string native;
  struct statvfs vfs;
  if (!folder || !PathToNative(folder, native) || ::statvfs(native.c_str(), &vfs) != 0)
    return false;
  bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

bool zelp::Preallocate(CKOVA_File& file, int64_t size) {
  if (file.handle < 0) return false;
  if (size <= 0) return true;
  int e = ::posix_fallocate(file.handle, 0, size);
  // Where the file system cannot allocate ahead, writing will tell.
  return e == 0 || (e != ENOSPC && e != EDQUOT && e != EFBIG);
}
