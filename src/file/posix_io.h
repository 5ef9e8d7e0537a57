// What the POSIX file units share: complete positioned writes, mapped reading and writing behind
// one SIGBUS guard, and locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "file/retry_posix.h"

namespace zelp::posix {

// Writes all `n` bytes at `at`; false on a failure.
bool PWriteAll(int fd, const uint8_t* p, size_t n, int64_t at);

// While a BusGuard lives, a page of a mapping that cannot be had (the file
// cut short by someone else, a failing disk), which raises SIGBUS, fails
// the GuardedCopy or GuardedCrc that touched it instead of ending the
// process. Guards nest; the handler that was there before comes back when
// the last one goes. installed() is false when the handler could not be
// set: then nothing may be touched through a mapping.
class BusGuard {
 public:
  BusGuard();
  ~BusGuard();
  BusGuard(const BusGuard&) = delete;
  BusGuard& operator=(const BusGuard&) = delete;
  bool installed() const { return installed_; }

 private:
  bool installed_;
};
// A read-only mapping that a whole-file reader touches anywhere, too often
// to guard each access: while watched (and a BusGuard lives), a page that
// cannot be had is replaced, from it to the mapping's end, by zeros, and the
// watch remembers it, so that the reader finishes and then learns that what
// it read is not the file. Watches do not nest beyond kMaxWatches.
class FaultWatch {
 public:
  FaultWatch() = default;
  ~FaultWatch() { Stop(); }
  FaultWatch(const FaultWatch&) = delete;
  FaultWatch& operator=(const FaultWatch&) = delete;
  static constexpr int kMaxWatches = 4;
  // False when the guard cannot be set or every watch is in use.
  bool Start(const void* mapping, size_t size);
  void Stop();
  // A page faulted since Start.
  bool Faulted() const;

 private:
  int slot_ = -1;
  std::optional<BusGuard> guard_;
};
// False when a page could not be had (part may be copied or hashed).
bool GuardedCopy(void* to, const void* from, size_t n);
bool GuardedCrc(uint32_t& running, const void* from, size_t n);

// The whole file's CRC-32 over a mapping of it, which needs no copy: 1 with
// the CRC, 0 when the file could not be read, -1 when it cannot be mapped
// here (read it instead).
int MappedCrc(int fd, int64_t size, uint32_t& crc);
// The same by positioned reads; false when the file could not be read.
bool ReadCrc(int fd, int64_t size, uint32_t& crc);

// Writes inside a file copied into a shared mapping of it, a window at a
// time: a copy into the page cache, without a call per write, touching only
// the bytes written.
class MappedWriter {
 public:
  MappedWriter() = default;
  ~MappedWriter() { Unmap(); }
  MappedWriter(const MappedWriter&) = delete;
  MappedWriter& operator=(const MappedWriter&) = delete;
  // The largest write taken.
  static constexpr uint32_t kMaxWrite = 64 << 10;
  // Bytes [position, position + count) of the file `fd` of `size` bytes
  // (all of them inside it): 1 written, 0 a page could not be had, -1 not
  // mappable here (write some other way; it stays so until Reset).
  int Write(int fd, int64_t size, int64_t position, const void* buffer, uint32_t count);
  // Drops the mapping; what was written stays in the page cache.
  void Unmap();
  void Reset() {
    Unmap();
    unmappable_ = false;
  }

 private:
  uint8_t* map_ = nullptr;  // [at_, at_ + len_) of the file
  int64_t at_ = 0;
  size_t len_ = 0;
  bool unmappable_ = false;
  std::optional<BusGuard> guard_;  // while mapped
};

// Starts the disk on what was written without waiting for it, so that it
// works while later writes are prepared and the final flush has less left.
// Writes close to one another are started together, in stretches of 1 MiB.
// Where starting blocks (a disk slower than the writing, its queue full),
// the writer would wait at every stretch for what the flush waits for once:
// once the starts have taken half the time since the first write, they stop.
class WritebackHints {
 public:
  void Note(int fd, int64_t at, int64_t n);
  void Reset() { *this = WritebackHints(); }

 private:
  void Start(int fd);
  int64_t from_ = 0, to_ = 0;  // written since the disk was last started
  int64_t firstNs_ = -1;       // when the first write was noted
  int64_t spentNs_ = 0;        // in the starts
  int starts_ = 0;
  bool off_ = false;
};

// POSIX has no sharing modes: advisory locks stand in for them. The lock
// that opening with `mode` and `shareKind` takes (0 for none), and taking
// it (true also where the file system keeps no locks).
int LockFor(int mode, int shareKind);
bool Lock(int fd, int lock);

}  // namespace zelp::posix
