// Advisory locks in place of the sharing modes POSIX does not have.
#include <sys/file.h>

#include "file/file.h"
#include "file/posix_io.h"

namespace zelp::posix {

// A file opened for writing excludes everyone who asked not to share
// writing (and the same file opened twice in one process conflicts, as on
// Windows).
int LockFor(int mode, int shareKind) {
  bool writes = mode != kModeRead;
  bool othersMayWrite = shareKind == kShareReadWrite || shareKind == kShareWrite;
  if (writes) return othersMayWrite ? LOCK_SH : LOCK_EX;
  return othersMayWrite ? 0 : LOCK_SH;
}

// Where the file system keeps no locks (some network and FUSE file systems)
// the sharing rules cannot hold, but the file can still be patched. Every
// other refusal (someone holds the file) stands.
bool Lock(int fd, int lock) {
  if (Retry([&] { return ::flock(fd, lock | LOCK_NB); }) == 0) return true;
  return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS;
}

}  // namespace zelp::posix
