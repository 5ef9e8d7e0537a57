// Mapped reading and writing on POSIX, and the one SIGBUS guard both go
// through.
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "file/crc32.h"
#include "file/posix_io.h"

namespace zelp::posix {

namespace {

int g_guards = 0;              // BusGuards alive
struct sigaction g_oldBus;     // the handler before the first of them
sigjmp_buf* g_jump = nullptr;  // where the access under way goes on a fault

// The watched mappings (see FaultWatch); `end` 0 for a free slot.
struct Watched {
  volatile uintptr_t begin, end;
  volatile sig_atomic_t faulted;
};
Watched g_watched[FaultWatch::kMaxWatches];
uintptr_t g_page = 4096;  // the page size, known before any watch starts

// Zeros over the watched mapping holding `addr`, from its page on: true when
// it is one of them.
bool ZeroWatched(uintptr_t addr) {
  for (Watched& w : g_watched) {
    if (!w.end || addr < w.begin || addr >= w.end) continue;
    const uintptr_t from = addr / g_page * g_page;
    w.faulted = 1;
    return ::mmap(reinterpret_cast<void*>(from), w.end - from, PROT_READ,
                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED;
  }
  return false;
}

void OnBus(int, siginfo_t* info, void*) {
  if (g_jump) siglongjmp(*g_jump, 1);
  // The access is made again on return, and now reads zeros.
  if (info && ZeroWatched(reinterpret_cast<uintptr_t>(info->si_addr))) return;
  // A fault outside a guarded access is not ours: the handler before us
  // (or the default, which ends the process) takes it when it recurs.
  ::sigaction(SIGBUS, &g_oldBus, nullptr);
}

// Runs `touch` with a fault of a mapped page turned into false.
template <typename Touch>
bool Guarded(Touch touch) {
  sigjmp_buf jump;
  // The mask is not saved (a system call each time): the handler runs with
  // SA_NODEFER, so a jump out of it leaves nothing blocked.
  if (sigsetjmp(jump, 0) != 0) {
    g_jump = nullptr;
    return false;
  }
  g_jump = &jump;
  touch();
  g_jump = nullptr;
  return true;
}

}  // namespace

BusGuard::BusGuard() {
  if (g_guards > 0) {
    installed_ = true;
  } else {
    struct sigaction onBus = {};
    onBus.sa_sigaction = OnBus;
    onBus.sa_flags = SA_NODEFER | SA_SIGINFO;
    sigemptyset(&onBus.sa_mask);
    installed_ = ::sigaction(SIGBUS, &onBus, &g_oldBus) == 0;
  }
  if (installed_) ++g_guards;
}

BusGuard::~BusGuard() {
  if (installed_ && --g_guards == 0) ::sigaction(SIGBUS, &g_oldBus, nullptr);
}

bool FaultWatch::Start(const void* mapping, size_t size) {
  Stop();
  guard_.emplace();
  if (!guard_->installed()) return guard_.reset(), false;
  g_page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  for (int i = 0; i < kMaxWatches; ++i) {
    if (g_watched[i].end) continue;
    g_watched[i].faulted = 0;
    g_watched[i].begin = reinterpret_cast<uintptr_t>(mapping);
    g_watched[i].end = g_watched[i].begin + size;
    slot_ = i;
    return true;
  }
  guard_.reset();
  return false;
}

void FaultWatch::Stop() {
  if (slot_ >= 0) g_watched[slot_].end = 0;
  slot_ = -1;
  guard_.reset();
}

bool FaultWatch::Faulted() const { return slot_ >= 0 && g_watched[slot_].faulted; }

bool GuardedCopy(void* to, const void* from, size_t n) {
  return Guarded([&] { std::memcpy(to, from, n); });
}

bool GuardedCrc(uint32_t& running, const void* from, size_t n) {
  // After a fault `running` is left as it was or half updated: never used.
  return Guarded([&] { running = Crc32Update(running, from, n); });
}

namespace {

constexpr int64_t kMapPiece = int64_t{64} << 20;  // mapped at a time, reading or writing

}  // namespace

// Measured twice as fast as reading when the file is in the page cache
// (bench/crc_read.cpp).
int MappedCrc(int fd, int64_t size, uint32_t& crc) {
  BusGuard guard;
  if (!guard.installed()) return -1;
  uint32_t running = 0xFFFFFFFFu;
  for (int64_t at = 0; at < size; at += kMapPiece) {
    const size_t len = static_cast<size_t>(std::min(size - at, kMapPiece));
    void* p = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(at));
    if (p == MAP_FAILED) return -1;
    ::madvise(p, len, MADV_SEQUENTIAL);
    const bool read = GuardedCrc(running, p, len);
    ::munmap(p, len);
    if (!read) return 0;
  }
  // Bytes past a new end within the last page read as zeros, not as a
  // fault: a file shorter now than it was fails as well.
  struct stat st;
  if (::fstat(fd, &st) != 0 || st.st_size < size) return 0;
  crc = running ^ 0xFFFFFFFFu;
  return 1;
}

// 1 MiB at a time, hashed while still in cache (a 32 MiB buffer measured
// four times slower).
bool ReadCrc(int fd, int64_t size, uint32_t& crc) {
  const size_t bufSize = static_cast<size_t>(std::min(size, kCrcReadSize));
  std::unique_ptr<unsigned char[]> buf(new unsigned char[bufSize]);
  _m_CRC32 running;
  for (int64_t at = 0; at < size;) {
    const size_t want = static_cast<size_t>(std::min(size - at, static_cast<int64_t>(bufSize)));
    ssize_t n = Retry([&] { return ::pread(fd, buf.get(), want, static_cast<off_t>(at)); });
    // An error, or an end before the size the file had: never a CRC of part of it.
    if (n <= 0) return false;
    running.Update(buf.get(), static_cast<size_t>(n));
    at += n;
  }
  crc = running.Final();
  return true;
}

int MappedWriter::Write(int fd, int64_t size, int64_t position, const void* buffer,
                        uint32_t count) {
  if (unmappable_) return -1;
  const int64_t end = position + count;
  if (!map_ || position < at_ || end > at_ + static_cast<int64_t>(len_)) {
    Unmap();
    // Whole pieces, with room for a write that starts near a piece's end.
    const int64_t at = position / kMapPiece * kMapPiece;
    const int64_t len = std::min<int64_t>(kMapPiece + kMaxWrite, size - at);
    guard_.emplace();
    void* p = guard_->installed()
                  ? ::mmap(nullptr, static_cast<size_t>(len), PROT_READ | PROT_WRITE, MAP_SHARED,
                           fd, static_cast<off_t>(at))
                  : MAP_FAILED;
    if (p == MAP_FAILED) {
      guard_.reset();
      unmappable_ = true;
      return -1;
    }
    map_ = static_cast<uint8_t*>(p);
    at_ = at;
    len_ = static_cast<size_t>(len);
  }
  if (GuardedCopy(map_ + (position - at_), buffer, count)) return 1;
  Unmap();
  return 0;
}

void MappedWriter::Unmap() {
  if (!map_) return;
  ::munmap(map_, len_);  // the written pages stay dirty in the page cache
  map_ = nullptr;
  guard_.reset();
}

}  // namespace zelp::posix
