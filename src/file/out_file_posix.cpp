// Output files on POSIX: the path resolved through symlinks, a temporary file
// from mkostemp beside the real file (its one O_EXCL descriptor is the one
// written), the mode of the file it replaces, and removal on SIGINT/SIGTERM.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/fs.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "common/signal_hold.h"
#include "common/text.h"
#include "file/out_file.h"
#include "file/retry_posix.h"

namespace zelp {

namespace {

// The temporary file being built, for the signal handler: a fixed buffer,
// since the handler may only make async-signal-safe calls.
char g_temp[PATH_MAX + 1];
volatile sig_atomic_t g_hasTemp = 0;

void RemoveTempAndDie(int sig) {
  if (g_hasTemp) ::unlink(g_temp);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void Track(const std::string& temp) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    for (int sig : kEndSignals) {
      struct sigaction old;
      // A signal the caller ignores (nohup) stays ignored.
      if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
      struct sigaction sa = {};
      sa.sa_handler = RemoveTempAndDie;
      sigemptyset(&sa.sa_mask);
      ::sigaction(sig, &sa, nullptr);
    }
  }
  g_hasTemp = 0;
  if (temp.size() > PATH_MAX) return;
  std::memcpy(g_temp, temp.c_str(), temp.size() + 1);
  g_hasTemp = 1;
}

void Untrack() { g_hasTemp = 0; }

// Keeps SIGINT, SIGTERM and SIGHUP waiting from before the temporary file
// exists until its removal is armed; a signal that came meanwhile is
// delivered when this ends, and then finds the file tracked.
class HeldUntilTracked {
 public:
  HeldUntilTracked() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : kEndSignals) sigaddset(&held, sig);
    ::sigprocmask(SIG_BLOCK, &held, &old_);
  }
  ~HeldUntilTracked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  HeldUntilTracked(const HeldUntilTracked&) = delete;
  HeldUntilTracked& operator=(const HeldUntilTracked&) = delete;

 private:
  sigset_t old_;
};

enum class Kind { kNew, kRegular, kOther, kNoFolder };

// Follows `path` through symlinks to the file it stands for: an existing
// regular file, a new name in an existing folder, or something else.
Kind Resolve(std::string path, std::string& real, struct stat& st) {
  for (int hop = 0; hop < 40; ++hop) {
    std::string name = NameOf(path);
    if (name.empty()) return Kind::kOther;  // "dir/" names a folder
    std::unique_ptr<char, decltype(&::free)> folder(::realpath(FolderOf(path).c_str(), nullptr),
                                                    &::free);
    if (!folder) return Kind::kNoFolder;
    std::string dir = folder.get();
    std::string full = (dir == "/" ? "" : dir) + "/" + name;
    if (::lstat(full.c_str(), &st) != 0) {
      if (errno != ENOENT) return Kind::kNoFolder;
      real = full;
      return Kind::kNew;
    }
    if (S_ISREG(st.st_mode)) {
      real = full;
      return Kind::kRegular;
    }
    if (!S_ISLNK(st.st_mode)) return Kind::kOther;
    std::string to(PATH_MAX, '\0');
    ssize_t n = ::readlink(full.c_str(), &to[0], to.size());
    if (n <= 0 || static_cast<size_t>(n) >= to.size()) return Kind::kOther;
    to.resize(static_cast<size_t>(n));
    path = to[0] == '/' ? to : dir + "/" + to;
  }
  return Kind::kOther;  // a loop
}

mode_t NewFileMode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// An unnamed file for building what goes to standard output: the patch
// writer needs a file it can seek in, a pipe is not one.
int SpoolFile() {
  const char* tmp = ::getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  int fd = -1;
#ifdef O_TMPFILE
  fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  std::string name = dir + "/zelp-XXXXXX";
  fd = ::mkostemp(&name[0], O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool CopyToStdout(int from) {
  if (::lseek(from, 0, SEEK_SET) != 0) return false;
  std::unique_ptr<char[]> buffer(new char[1 << 20]);
  for (;;) {
    ssize_t got = Retry([&] { return ::read(from, buffer.get(), 1 << 20); });
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      ssize_t n = Retry([&] {
        return ::write(STDOUT_FILENO, buffer.get() + done, static_cast<size_t>(got - done));
      });
      if (n <= 0) return false;
      done += n;
    }
  }
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  file_.Close();
  if (!created_) return;
  std::string native;
  if (PathToNative(temp_, native)) ::unlink(native.c_str());
  Untrack();
  created_ = false;
}

bool OutputFile::Create(const std::u16string& path, Bilingual& error) {
  Discard();
  toStdout_ = path == kStdoutName;
  if (toStdout_) {
    int fd = SpoolFile();
    if (fd < 0) {
      error = CreateFaultText(CreateFault::kSpool, path);
      return false;
    }
    file_.handle = fd;
    return true;
  }
  std::string native, real;
  struct stat st;
  if (!PathToNative(path, native)) {
    error = CreateFaultText(CreateFault::kCannot, path);
    return false;
  }
  switch (Resolve(native, real, st)) {
    case Kind::kNoFolder: error = CreateFaultText(CreateFault::kNoFolder, path); return false;
    case Kind::kOther: error = CreateFaultText(CreateFault::kNotRegular, path); return false;
    case Kind::kNew: replaces_ = false; break;
    case Kind::kRegular: replaces_ = true; break;
  }
  std::string temp = FolderOf(real) + "/.zelp-XXXXXX";
  int fd;
  {
    HeldUntilTracked held;
    fd = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd >= 0) Track(temp);
  }
  if (fd < 0) {
    error = CreateFaultText(CreateFault::kCannot, path);
    return false;
  }
  created_ = true;
  temp_ = PathFromNative(temp);
  final_ = PathFromNative(real);
  file_.handle = fd;
  if (replaces_) {
    // The replacement keeps the owner (where we may) and the permissions.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
      (void)!::fchown(fd, st.st_uid, st.st_gid);
    ::fchmod(fd, st.st_mode & 07777);
  } else {
    ::fchmod(fd, NewFileMode());
  }
  return true;
}

namespace {

// Copies bytes [at, end) of `from` into `to` at the same place.
bool CopyRange(int from, int to, off_t at, off_t end) {
#ifdef __linux__
  while (at < end) {
    off_t in = at, out = at;
    ssize_t n = Retry(
        [&] { return ::copy_file_range(from, &in, to, &out, static_cast<size_t>(end - at), 0); });
    if (n <= 0) break;  // not here (another file system, an old kernel): copy by hand
    at += n;
  }
#endif
  std::unique_ptr<char[]> buffer;
  while (at < end) {
    if (!buffer) buffer.reset(new char[1 << 20]);
    ssize_t got = Retry([&] {
      return ::pread(from, buffer.get(), static_cast<size_t>(std::min<off_t>(1 << 20, end - at)),
                     at);
    });
    if (got <= 0) return false;
    for (ssize_t put = 0; put < got;) {
      ssize_t n = Retry([&] {
        return ::pwrite(to, buffer.get() + put, static_cast<size_t>(got - put), at + put);
      });
      if (n <= 0) return false;
      put += n;
    }
    at += got;
  }
  return true;
}

}  // namespace

bool OutputFile::CopyFrom(CKOVA_File& source, const std::u16string&) {
  const int from = source.handle, to = file_.handle;
  struct stat st;
  if (from < 0 || to < 0 || ::fstat(from, &st) != 0 || ::ftruncate(to, 0) != 0) return false;
  const off_t size = st.st_size;
#ifdef FICLONE
  // Shares the blocks where the file system can (Btrfs, XFS): no data moves.
  if (size > 0 && ::ioctl(to, FICLONE, from) == 0)
    return ::fstat(to, &st) == 0 && st.st_size == size && file_.Seek(0);
#endif
  // Only the data: the holes of a sparse file stay holes in the copy.
  if (::ftruncate(to, size) != 0) return false;
  for (off_t at = 0; at < size;) {
    off_t data = ::lseek(from, at, SEEK_DATA), hole = size;
    if (data < 0 && errno == ENXIO) break;  // holes to the end
    if (data < 0) {
      data = at;  // no SEEK_DATA here: all of it is data
    } else {
      hole = ::lseek(from, data, SEEK_HOLE);
      if (hole < 0 || hole > size) hole = size;
    }
    if (data >= size) break;
    if (!CopyRange(from, to, data, hole)) return false;
    at = hole;
  }
  return ::fstat(to, &st) == 0 && st.st_size == size && file_.Seek(0);
}

bool OutputFile::Commit(bool replace) {
  if (!file_.IsOpen()) return false;
  if (toStdout_) {
    bool ok = CopyToStdout(file_.handle);
    file_.Close();
    return ok;
  }
  if (!created_ || !file_.Flush()) return false;
  file_.Close();
  std::string from, to;
  if (!PathToNative(temp_, from) || !PathToNative(final_, to)) return false;
  if (replace) {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
  } else {
    // link() refuses an existing name; the temporary name goes after it.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
  }
  created_ = false;
  Untrack();
  // The new name must survive a crash as well as the data.
  int dir = ::open(FolderOf(to).c_str(), O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool SameFile(const std::u16string& a, const std::u16string& b) {
  std::string na, nb;
  struct stat sa, sb;
  if (!PathToNative(a, na) || !PathToNative(b, nb)) return false;
  if (::stat(na.c_str(), &sa) != 0 || ::stat(nb.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace zelp
