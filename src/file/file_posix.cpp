// CKOVA_File over POSIX descriptors.
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "common/text.h"
#include "file/crc32.h"
#include "file/file.h"

namespace {

// A call that a signal interrupted before it did anything is made again.
template <typename Call>
auto Retry(Call call) {
  decltype(call()) r;
  do r = call();
  while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

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
  ssize_t n = Retry([&] { return ::write(handle, buffer, count); });
  return n < 0 ? 0 : static_cast<uint32_t>(n);
}

void CKOVA_File::Close() {
  if (handle >= 0) {
    SettleWrites();
    ::close(handle);  // also drops the sharing lock
  }
  handle = -1;
  window_.reset();
  lastEnd_ = -1;
  lostWrite_ = false;
}

void CKOVA_File::GetSize(int64_t& size) {
  struct stat st;
  if (handle >= 0 && ::fstat(handle, &st) == 0) size = st.st_size;
}

int CKOVA_File::Tell(int64_t& position) {
  if (handle < 0) return 0;
  off_t p = ::lseek(handle, 0, SEEK_CUR);
  if (p >= 0) position = p;
  return 1;
}

bool CKOVA_File::Seek(int64_t position) {
  if (handle < 0 || position < 0) return false;
  return ::lseek(handle, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

namespace {

constexpr int64_t kMapPiece = int64_t{64} << 20;  // mapped at a time

sigjmp_buf* g_onBus = nullptr;
void OnBus(int) { siglongjmp(*g_onBus, 1); }

// The CRC over a mapping of the file, which needs no copy (measured twice
// as fast as reading when the file is in the page cache; see
// bench/crc_read.cpp). A page that cannot be had (the file was cut short by
// someone else meanwhile, or the disk failed) raises SIGBUS: it is caught
// for the time of the computation and gives 0, as a failed read does.
// False when the file cannot be mapped.
bool MappedCrc(int fd, int64_t size, uint32_t& result) {
  struct sigaction onBus = {}, old = {};
  onBus.sa_handler = OnBus;
  sigemptyset(&onBus.sa_mask);
  if (::sigaction(SIGBUS, &onBus, &old) != 0) return false;
  sigjmp_buf jump;
  g_onBus = &jump;
  // Read again after a jump back here: volatile.
  void* volatile map = MAP_FAILED;
  volatile size_t mapLen = 0;
  volatile uint32_t running = 0xFFFFFFFFu;
  volatile int state = 0;  // 0 working, 1 done, 2 not mappable, 3 a page was missing
  if (sigsetjmp(jump, 1) == 0) {
    for (int64_t at = 0; at < size; at += kMapPiece) {
      size_t len = static_cast<size_t>(size - at < kMapPiece ? size - at : kMapPiece);
      void* p = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(at));
      if (p == MAP_FAILED) {
        state = 2;
        break;
      }
      map = p;
      mapLen = len;
      ::madvise(p, len, MADV_SEQUENTIAL);
      running = zelp::Crc32Update(running, p, len);
      map = MAP_FAILED;
      ::munmap(p, len);
    }
    if (state == 0) state = 1;
  } else {
    state = 3;
  }
  if (map != MAP_FAILED) ::munmap(map, mapLen);
  g_onBus = nullptr;
  ::sigaction(SIGBUS, &old, nullptr);
  if (state == 2) return false;
  // Bytes past a new end within the last page read as zeros, not as a
  // fault: a file shorter now than it was gives 0 as well.
  struct stat st;
  bool whole = state == 1 && ::fstat(fd, &st) == 0 && st.st_size >= size;
  result = whole ? running ^ 0xFFFFFFFFu : 0;
  return true;
}

// Positioned reads, 1 MiB at a time (hashed while still in cache; a 32 MiB
// buffer measured four times slower).
uint32_t ReadCrc(int fd, int64_t size) {
  const size_t bufSize = static_cast<size_t>(size < zelp::kCrcReadSize ? size : zelp::kCrcReadSize);
  std::unique_ptr<unsigned char[]> buf(new unsigned char[bufSize]);
  _m_CRC32 crc;
  for (int64_t at = 0; at < size;) {
    size_t want =
        static_cast<size_t>(size - at < static_cast<int64_t>(bufSize) ? size - at : bufSize);
    ssize_t n = Retry([&] { return ::pread(fd, buf.get(), want, static_cast<off_t>(at)); });
    // An error, or an end before the size the file had: never a CRC of part of it.
    if (n <= 0) return 0;
    crc.Update(buf.get(), static_cast<size_t>(n));
    at += n;
  }
  return crc.Final();
}

}  // namespace

// Neither way moves the file position, so nothing needs putting back.
uint32_t CKOVA_File::Crc32() {
  if (handle < 0) return 0;
  SettleWrites();
  int64_t size = 0;
  GetSize(size);
  if (size <= 0) return 0;
  uint32_t crc;
  if (MappedCrc(handle, size, crc)) return crc;
  return ReadCrc(handle, size);
}

bool CKOVA_File::IsOpen() { return handle >= 0; }

bool CKOVA_File::SetEnd() {
  if (handle < 0) return false;
  SettleWrites();
  off_t p = ::lseek(handle, 0, SEEK_CUR);
  return p >= 0 && ::ftruncate(handle, p) == 0;
}

bool CKOVA_File::Reserve(int64_t size) {
  if (handle < 0 || size < 0) return false;
  SettleWrites();
  struct stat st;
  if (::fstat(handle, &st) != 0) return false;
  if (size <= st.st_size) return true;
  int rc = ::posix_fallocate(handle, st.st_size, static_cast<off_t>(size - st.st_size));
  if (rc == EOPNOTSUPP || rc == EINVAL) rc = ::ftruncate(handle, size) == 0 ? 0 : errno;
  return rc == 0;
}

namespace {

constexpr uint32_t kWindowSize = 256 << 10;  // bytes gathered at most
constexpr uint32_t kGatherMax = 4096;        // larger writes go straight out
constexpr int64_t kNear = 16 << 10;          // how close writes must follow

bool PWriteAll(int fd, const uint8_t* p, size_t n, int64_t at) {
  while (n > 0) {
    ssize_t w = Retry([&] { return ::pwrite(fd, p, n, static_cast<off_t>(at)); });
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

// Starts writing the range to the disk without waiting, so that the disk
// works while later records are prepared and the final flush has less left.
void StartWriteback(int fd, int64_t at, size_t n) {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(fd, static_cast<off_t>(at), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
#else
  (void)fd, (void)at, (void)n;
#endif
}

}  // namespace

bool CKOVA_File::SettleWrites() {
  if (windowLen_ == 0) return true;
  bool ok = dirtyTo_ <= dirtyFrom_ || PWriteAll(handle, window_.get() + dirtyFrom_,
                                                dirtyTo_ - dirtyFrom_, windowAt_ + dirtyFrom_);
  if (ok && dirtyTo_ > dirtyFrom_)
    StartWriteback(handle, windowAt_ + dirtyFrom_, dirtyTo_ - dirtyFrom_);
  windowLen_ = 0;
  if (!ok) lostWrite_ = true;
  return ok;
}

// Copies the write into the window when it falls inside, opening a window
// at it when it follows the previous write closely; false when it must go
// straight to the file.
bool CKOVA_File::GatherWrite(int64_t position, const void* buffer, uint32_t count) {
  if (windowLen_ == 0) {
    if (count == 0 || count > kGatherMax || lastEnd_ < 0 || position < lastEnd_ - kNear ||
        position > lastEnd_ + kNear)
      return false;
    if (!window_) window_.reset(new uint8_t[kWindowSize]);
    int64_t at = position & ~int64_t{4095};  // whole pages
    ssize_t n =
        Retry([&] { return ::pread(handle, window_.get(), kWindowSize, static_cast<off_t>(at)); });
    if (n <= 0) return false;
    windowAt_ = at;
    windowLen_ = static_cast<uint32_t>(n);
    dirtyFrom_ = windowLen_;
    dirtyTo_ = 0;
  }
  if (position < windowAt_ || position + count > windowAt_ + windowLen_) return false;
  uint32_t from = static_cast<uint32_t>(position - windowAt_);
  if (count > 0) {
    std::memcpy(window_.get() + from, buffer, count);
    if (from < dirtyFrom_) dirtyFrom_ = from;
    if (from + count > dirtyTo_) dirtyTo_ = from + count;
  }
  return true;
}

// One positioned write instead of a seek and a write, or none at all when
// the write can be gathered with its neighbours.
int64_t CKOVA_File::WriteAt(int64_t position, const void* buffer, uint32_t count) {
  if (handle < 0 || position < 0) return -1;
  // Writing nothing needs no position: a file system may not reach it.
  if (count == 0) return 0;
  if (GatherWrite(position, buffer, count)) {
    lastEnd_ = position + count;
    return count;
  }
  // Outside the window: what it gathered goes out first, in order.
  if (!SettleWrites()) return 0;
  if (GatherWrite(position, buffer, count)) {
    lastEnd_ = position + count;
    return count;
  }
  ssize_t n = Retry([&] { return ::pwrite(handle, buffer, count, static_cast<off_t>(position)); });
  if (n == static_cast<ssize_t>(count)) {
    lastEnd_ = position + count;
    StartWriteback(handle, position, count);
    return n;
  }
  // Not all written: tell a position the file cannot reach (a seek would
  // have failed) from a failed write, as Seek+Write do.
  if (::lseek(handle, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(position))
    return -1;
  if (n > 0) lastEnd_ = position + n;
  return n < 0 ? 0 : n;
}

bool CKOVA_File::Flush() {
  if (handle < 0) return false;
  bool settled = SettleWrites() && !lostWrite_;
  return ::fsync(handle) == 0 && settled;
}

namespace {

// POSIX has no sharing modes; advisory locks stand in for them so that a
// file opened for writing excludes everyone who asked not to share writing
// (and the same file opened twice in one process conflicts, as on Windows).
int LockFor(int mode, int shareKind) {
  bool writes = mode != zelp::kModeRead;
  bool othersMayWrite = shareKind == zelp::kShareReadWrite || shareKind == zelp::kShareWrite;
  if (writes) return othersMayWrite ? LOCK_SH : LOCK_EX;
  return othersMayWrite ? 0 : LOCK_SH;
}

// The lock, or none where the file system keeps no locks (some network and
// FUSE file systems): the sharing rules cannot hold there, but the file can
// still be patched. Every other refusal (someone holds the file) stands.
bool Lock(int fd, int lock) {
  if (Retry([&] { return ::flock(fd, lock | LOCK_NB); }) == 0) return true;
  return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS;
}

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
  if ((lock && !Lock(fd, lock)) || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
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
  int lock = LockFor(mode, shareKind);
  // No retry under a short form: POSIX file systems have no short names.
  int fd = OpenOnce(native, flags, lock, mode == kModeCreate);
  if (fd < 0) return 0;
  file.handle = fd;
  return file.Seek(0) ? 1 : (file.Close(), 0);
}
