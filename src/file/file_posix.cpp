// CKOVA_File over POSIX descriptors.
#include <errno.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/statfs.h>
#endif

#include <cstdio>
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
  knownSize_ = -1;
  writtenFrom_ = writtenTo_ = 0;
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
// for the time of the computation and makes it fail, as a failed read does.
// Returns 1 with the CRC, 0 when the file could not be read, -1 when it
// cannot be mapped.
int MappedCrc(int fd, int64_t size, uint32_t& result) {
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
  if (state == 2) return -1;
  // Bytes past a new end within the last page read as zeros, not as a
  // fault: a file shorter now than it was fails as well.
  struct stat st;
  if (state != 1 || ::fstat(fd, &st) != 0 || st.st_size < size) return 0;
  result = running ^ 0xFFFFFFFFu;
  return 1;
}

// Positioned reads, 1 MiB at a time (hashed while still in cache; a 32 MiB
// buffer measured four times slower). False when the file could not be read.
bool ReadCrc(int fd, int64_t size, uint32_t& result) {
  const size_t bufSize = static_cast<size_t>(size < zelp::kCrcReadSize ? size : zelp::kCrcReadSize);
  std::unique_ptr<unsigned char[]> buf(new unsigned char[bufSize]);
  _m_CRC32 crc;
  for (int64_t at = 0; at < size;) {
    size_t want =
        static_cast<size_t>(size - at < static_cast<int64_t>(bufSize) ? size - at : bufSize);
    ssize_t n = Retry([&] { return ::pread(fd, buf.get(), want, static_cast<off_t>(at)); });
    // An error, or an end before the size the file had: never a CRC of part of it.
    if (n <= 0) return false;
    crc.Update(buf.get(), static_cast<size_t>(n));
    at += n;
  }
  result = crc.Final();
  return true;
}

}  // namespace

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
    int mapped = MappedCrc(handle, size, crc);
    if (mapped >= 0) return mapped == 1;
  }
  return ReadCrc(handle, size, crc);
}

bool CKOVA_File::IsOpen() { return handle >= 0; }

bool CKOVA_File::SetEnd() {
  if (handle < 0) return false;
  SettleWrites();
  knownSize_ = -1;
  off_t p = ::lseek(handle, 0, SEEK_CUR);
  return p >= 0 && ::ftruncate(handle, p) == 0;
}

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

namespace {

constexpr uint32_t kJoinMax = 256 << 10;                 // bytes joined at most
constexpr int64_t kWritebackStretch = int64_t{1} << 20;  // started at a time

// Starts the disk writing the range without waiting for it.
void StartWriteback(int fd, int64_t at, int64_t n) {
#ifdef SYNC_FILE_RANGE_WRITE
  ::sync_file_range(fd, static_cast<off_t>(at), static_cast<off_t>(n), SYNC_FILE_RANGE_WRITE);
#else
  (void)fd, (void)at, (void)n;
#endif
}

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

}  // namespace

// The disk starts on what was written without anyone waiting, so that it
// works while later records are prepared and the final flush has less left.
// Writes close to one another are started together, in stretches of 1 MiB.
void CKOVA_File::NoteWritten(int64_t at, int64_t n) {
  if (writtenTo_ > writtenFrom_ && (at < writtenFrom_ || at > writtenTo_ + kWritebackStretch)) {
    StartWriteback(handle, writtenFrom_, writtenTo_ - writtenFrom_);
    writtenTo_ = writtenFrom_;
  }
  if (writtenTo_ <= writtenFrom_) writtenFrom_ = at;
  if (at + n > writtenTo_) writtenTo_ = at + n;
  if (writtenTo_ - writtenFrom_ >= kWritebackStretch) {
    StartWriteback(handle, writtenFrom_, writtenTo_ - writtenFrom_);
    writtenFrom_ = writtenTo_;
  }
}

bool CKOVA_File::SettleWrites() {
  if (joinedLen_ == 0) return true;
  bool ok = PWriteAll(handle, joined_.get(), joinedLen_, joinedAt_);
  if (ok) NoteWritten(joinedAt_, joinedLen_);
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
  if (!SettleWrites()) return 0;
  // Only writes inside the file wait to be joined: elsewhere the outcome
  // (a position the file cannot reach, a full disk) must show now
  // (and only where writing can succeed at all).
  if (count < kJoinMax && knownSize_ - count < position) {
    struct stat st;
    int flags = ::fcntl(handle, F_GETFL);
    bool writable = flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
    knownSize_ = writable && ::fstat(handle, &st) == 0 ? st.st_size : -1;
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
  if (n > 0) NoteWritten(position, n);
  if (n == static_cast<ssize_t>(count)) return n;
  // Not all written: tell a position the file cannot reach (a seek would
  // have failed) from a failed write, as Seek+Write do.
  if (::lseek(handle, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(position))
    return -1;
  return n < 0 ? 0 : n;
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
