// CKOVA_File over POSIX descriptors: opening, reading, and the three ways
// writes go out (into a mapping, joined, positioned). Mapped reading and
// writing are in mapped_posix.cpp, securing space in space_posix.cpp, locks
// in lock_posix.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "common/text.h"
#include "file/crc32.h"
#include "file/file.h"
#include "file/posix_io.h"

using zelp::Retry;

CKOVA_File::~CKOVA_File() { Close(); }

uint32_t CKOVA_File::Read(void* buffer, uint32_t count) {
  if (handle < 0) return 0;
  SettleWrites();
  ssize_t n = Retry([&] { return ::read(handle, buffer, count); });
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

uint32_t CKOVA_File::Write(const void* buffer, uint32_t count) {
  if (handle < 0) return 0;
  SettleWrites();
  knownSize_ = -1;
  ssize_t n = Retry([&] { return ::write(handle, buffer, count); });
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

void CKOVA_File::Close() {
  if (handle >= 0) {
    SettleWrites();
    ::close(handle);  // also drops the sharing lock
  }
  handle = -1;
  joined_.reset();
  mapped_.Reset();
  knownSize_ = -1;
  hints_.Reset();
  lostWrite_ = false;
}

void CKOVA_File::GetSize(int64_t& size) {
  if (handle < 0) return;
  SettleWrites();  // joined bytes may end past the end
  struct stat st;
  if (::fstat(handle, &st) == 0) size = st.st_size;
}

int CKOVA_File::Tell(int64_t& position) {
  if (handle < 0) return 0;
  off_t p = ::lseek(handle, 0, SEEK_CUR);
  if (p < 0) return 0;
  position = p;
  return 1;
}

bool CKOVA_File::Seek(int64_t position) {
  if (handle < 0 || position < 0) return false;
  return ::lseek(handle, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

uint32_t CKOVA_File::Crc32() { return Crc32OfFile(*this); }

// Neither way moves the file position, so nothing needs putting back.
bool CKOVA_File::WholeCrc32(uint32_t& crc) {
  if (handle < 0) return false;
  int64_t size = -1;
  GetSize(size);
  struct stat st;
  if (size < 0 || ::fstat(handle, &st) != 0) return false;
  if (size == 0) return (crc = 0), true;
  // Reading a hole through a mapping allocates its pages on some file
  // systems (tmpfs): a check must never fill the disk, so files with holes
  // (fewer blocks than bytes) are read, which gives zeros for a hole.
  bool holes = static_cast<int64_t>(st.st_blocks) * 512 < static_cast<int64_t>(st.st_size);
  if (!holes) {
    int mapped = zelp::posix::MappedCrc(handle, size, crc);
    if (mapped >= 0) return mapped == 1;
  }
  return zelp::posix::ReadCrc(handle, size, crc);
}

bool CKOVA_File::IsOpen() { return handle >= 0; }

bool CKOVA_File::SetEnd() {
  if (handle < 0) return false;
  SettleWrites();
  knownSize_ = -1;
  off_t p = ::lseek(handle, 0, SEEK_CUR);
  return p >= 0 && ::ftruncate(handle, p) == 0;
}

namespace {

constexpr uint32_t kJoinMax = 256 << 10;                 // bytes joined at most
constexpr int64_t kWritebackStretch = int64_t{1} << 20;  // started at a time

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void zelp::posix::WritebackHints::Note(int fd, int64_t at, int64_t n) {
  if (off_) return;
  if (firstNs_ < 0) firstNs_ = NowNs();
  if (to_ > from_ && (at < from_ || at > to_ + kWritebackStretch)) {
    Start(fd);
    to_ = from_;
  }
  if (to_ <= from_) from_ = at;
  if (at + n > to_) to_ = at + n;
  if (to_ - from_ >= kWritebackStretch) {
    Start(fd);
    from_ = to_;
  }
}

void zelp::posix::WritebackHints::Start(int fd) {
#ifdef SYNC_FILE_RANGE_WRITE
  const int64_t before = NowNs();
  ::sync_file_range(fd, static_cast<off_t>(from_), static_cast<off_t>(to_ - from_),
                    SYNC_FILE_RANGE_WRITE);
  const int64_t after = NowNs();
  spentNs_ += after - before;
  // A few starts first: the first ones also find the file's pages.
  if (++starts_ >= 4 && spentNs_ * 2 > after - firstNs_) off_ = true;
#else
  (void)fd;
  off_ = true;
#endif
}

bool CKOVA_File::SettleWrites() {
  mapped_.Unmap();
  return FlushJoined();
}

bool CKOVA_File::FlushJoined() {
  if (joinedLen_ == 0) return true;
  bool ok = zelp::posix::PWriteAll(handle, joined_.get(), joinedLen_, joinedAt_);
  if (ok) hints_.Note(handle, joinedAt_, joinedLen_);
  joinedLen_ = 0;  // inside the file: the size stands
  if (!ok) lostWrite_ = true;
  return ok;
}

// One positioned write instead of a seek and a write; writes that continue
// the one before are joined to it.
int64_t CKOVA_File::WriteAt(int64_t position, const void* buffer, uint32_t count) {
  if (handle < 0 || position < 0) return -1;
  // Writing nothing needs no position: a file system may not reach it.
  if (count == 0) return 0;
  if (joinedLen_ > 0 && position == joinedAt_ + joinedLen_ && count <= kJoinMax - joinedLen_) {
    std::memcpy(joined_.get() + joinedLen_, buffer, count);
    joinedLen_ += count;
    return count;
  }
  if (!FlushJoined()) return 0;
  // Only writes inside the file wait to be joined: elsewhere the outcome
  // (a position the file cannot reach, a full disk) must show now
  // (and only where writing can succeed at all).
  if (knownSize_ - count < position) {
    struct stat st;
    int flags = ::fcntl(handle, F_GETFL);
    bool writable = flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
    knownSize_ = writable && ::fstat(handle, &st) == 0 ? st.st_size : -1;
  }
  if (count <= zelp::posix::MappedWriter::kMaxWrite && position <= knownSize_ - count) {
    switch (mapped_.Write(handle, knownSize_, position, buffer, count)) {
      case 1: hints_.Note(handle, position, count); return count;
      case 0: lostWrite_ = true; return 0;
      default: break;  // not mappable here: joined writes
    }
  }
  if (count < kJoinMax && position <= knownSize_ - count) {
    if (!joined_) joined_.reset(new uint8_t[kJoinMax]);
    std::memcpy(joined_.get(), buffer, count);
    joinedAt_ = position;
    joinedLen_ = count;
    return count;
  }
  ssize_t n = Retry([&] { return ::pwrite(handle, buffer, count, static_cast<off_t>(position)); });
  knownSize_ = -1;
  if (n > 0) hints_.Note(handle, position, n);
  if (n == static_cast<ssize_t>(count)) return n;
  // Not all written: tell a position the file cannot reach (a seek would
  // have failed) from a failed write, as Seek+Write do.
  if (::lseek(handle, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(position))
    return -1;
  return n < 0 ? 0 : n;
}

bool CKOVA_File::Flush() {
  if (handle < 0) return false;
  bool settled = SettleWrites() && !lostWrite_;
  return ::fsync(handle) == 0 && settled;
}

namespace {

int OpenOnce(const std::string& path, int flags, int lock, bool truncate) {
  // O_NONBLOCK keeps a FIFO from blocking the open; only regular files pass.
  int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  if ((lock && !zelp::posix::Lock(fd, lock)) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
      (truncate && ::ftruncate(fd, 0) != 0)) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

}  // namespace

int zelp::Open(const char16_t* path, CKOVA_File& file, int mode, int shareKind) {
  file.Close();
  int flags;
  switch (mode) {
    case kModeRead: flags = O_RDONLY; break;
    case kModeWrite: flags = O_WRONLY; break;
    case kModeReadWrite: flags = O_RDWR; break;
    case kModeCreate: flags = O_WRONLY | O_CREAT; break;  // truncated once locked
    default: return 0;
  }
  std::string native;
  if (!path || !zelp::PathToNative(path, native) || native.empty()) return 0;
  int lock = zelp::posix::LockFor(mode, shareKind);
  // No retry under a short form: POSIX file systems have no short names.
  int fd = OpenOnce(native, flags, lock, mode == kModeCreate);
  if (fd < 0) return 0;
  file.handle = fd;
  return file.Seek(0) ? 1 : (file.Close(), 0);
}

bool zelp::PathExists(const char16_t* path) {
  std::string native;
  struct stat st;
  return path && PathToNative(path, native) && ::lstat(native.c_str(), &st) == 0;
}

bool zelp::RemovePath(const char16_t* path) {
  std::string native;
  return path && PathToNative(path, native) && ::unlink(native.c_str()) == 0;
}

bool zelp::SyncFolderOf(const char16_t* path) {
  std::string native;
  if (!path || !PathToNative(path, native)) return false;
  size_t slash = native.rfind('/');
  std::string folder = slash == std::string::npos ? "."
                       : slash == 0               ? "/"
                                                  : native.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool zelp::RenamePath(const char16_t* from, const char16_t* to) {
  std::string a, b;
  return from && to && PathToNative(from, a) && PathToNative(to, b) &&
         ::rename(a.c_str(), b.c_str()) == 0;
}

bool zelp::posix::PWriteAll(int fd, const uint8_t* p, size_t n, int64_t at) {
  while (n > 0) {
    ssize_t w = Retry([&] { return ::pwrite(fd, p, n, static_cast<off_t>(at)); });
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}
