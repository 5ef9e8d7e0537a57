// Temporary files and the final rename on POSIX.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "author/out_file.h"
#include "common/text.h"

namespace zelp::author {

namespace {

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// The folder of a native path, for syncing the rename.
std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool CreateTempBeside(const std::u16string& target, std::u16string& tempPath) {
  static std::atomic<unsigned> counter{0};
  // The rename would put a plain file in place of a device, a FIFO or a
  // link to one (zelp create -o /dev/null, run as root, replaced the device):
  // an output that exists must be a regular file.
  std::string output;
  struct stat st;
  if (!PathToNative(target, output)) return false;
  if (::stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::u16string candidate =
        target + Ascii(".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::string native;
    if (!PathToNative(candidate, native)) return false;
    int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      tempPath = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool MoveIntoPlace(const std::u16string& from, const std::u16string& to) {
  std::string a, b;
  if (!PathToNative(from, a) || !PathToNative(to, b)) return false;
  if (::rename(a.c_str(), b.c_str()) != 0) return false;
  // The new name must survive a crash as well as the data.
  int dir = ::open(FolderOf(b).c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool RemoveFile(const std::u16string& path) {
  std::string native;
  return PathToNative(path, native) && ::unlink(native.c_str()) == 0;
}

bool SameFile(const std::u16string& a, const std::u16string& b) {
  std::string na, nb;
  struct stat sa, sb;
  if (!PathToNative(a, na) || !PathToNative(b, nb)) return false;
  if (::stat(na.c_str(), &sa) != 0 || ::stat(nb.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace zelp::author
