// Securing the space writes will need on POSIX: growing with the blocks
// really allocated, holes filled ahead, and the free space a file system
// that copies on write needs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/statfs.h>
#endif

#include "file/file.h"
#include "file/posix_io.h"

using zelp::Retry;

bool CKOVA_File::Reserve(int64_t size) {
  if (handle < 0 || size < 0) return false;
  SettleWrites();
  knownSize_ = -1;
  struct stat st;
  if (::fstat(handle, &st) != 0) return false;
  if (size <= st.st_size) return true;
  int rc = ::posix_fallocate(handle, st.st_size, static_cast<off_t>(size - st.st_size));
  if (rc == EOPNOTSUPP || rc == EINVAL) rc = ::ftruncate(handle, size) == 0 ? 0 : errno;
  return rc == 0;
}

bool CKOVA_File::SecureWrites(const std::vector<zelp::ByteRange>& ranges) {
  if (handle < 0) return false;
  struct stat st;
  if (::fstat(handle, &st) != 0) return false;
    // A file system that copies on write needs new blocks for every block
    // written; elsewhere only holes need them.
#ifdef __linux__
  struct statfs fs;
  if (::fstatfs(handle, &fs) != 0) return false;
  bool copies = fs.f_type == BTRFS_SUPER_MAGIC;
#else
  bool copies = false;
#endif
  bool holes = static_cast<int64_t>(st.st_blocks) * 512 < static_cast<int64_t>(st.st_size);
  if (!copies && !holes) return true;
  const int64_t block = st.st_blksize > 0 ? st.st_blksize : 4096;
  uint64_t need = 0;
  bool count = copies;
  for (const zelp::ByteRange& r : ranges) {
    int64_t at = r.at / block * block, end = (r.end + block - 1) / block * block;
    need += static_cast<uint64_t>(end - at);
    if (copies) continue;
#ifdef FALLOC_FL_KEEP_SIZE
    if (Retry([&] { return ::fallocate(handle, FALLOC_FL_KEEP_SIZE, r.at, r.end - r.at); }) == 0)
      continue;
    if (errno != EOPNOTSUPP && errno != ENOSYS) return false;  // ENOSPC above all
#endif
    count = true;  // cannot allocate ahead here: the free space must do
  }
  struct statvfs vfs;
  if (!count) return true;
  return ::fstatvfs(handle, &vfs) == 0 &&
         static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize >= need;
}
