// Finds the bytes in which a modified file differs from an original one.
//
// Both files are streamed once, block by block, so memory stays the same
// whatever their sizes. Bytes of the original beyond its end count as zero
// (a target that grows is zero-filled before records are written), and the
// original's bytes beyond the modified file's end do not matter (the target
// is cut there), except to the CRC-32 of the whole original, which is taken
// in the same pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file/xfile.h"

namespace zelp::author {

// Receives the changed runs in increasing order, each maximal (at least one
// unchanged byte lies between two runs); false stops the comparison.
class RunSink {
 public:
  virtual ~RunSink() = default;
  virtual bool OnRun(uint64_t start, uint64_t length) = 0;
};

struct DiffOptions {
  bool crc = true;                       // also take the CRC-32 of the original
  size_t blockSize = size_t{256} << 10;  // bytes read from each file at a time
};

struct DiffResult {
  int64_t originalSize = 0;
  int64_t modifiedSize = 0;
  uint32_t originalCrc = 0;  // 0 when not asked for
};

enum class DiffStatus { kOk, kReadOriginal, kReadModified, kStopped };

// Compares from the start of both files (whatever their positions).
DiffStatus DiffFiles(CKOVA_xFile& original, CKOVA_xFile& modified, RunSink& sink,
                     const DiffOptions& options, DiffResult& result);

// The comparison kernel, exposed for tests and benchmarks: gathers the
// differing bytes of `a` and `b` (n bytes each, at file position `at`) into
// runs. `a` may be null, standing for zeros. Runs that touch the end of one
// call continue into the next; Flush ends the last one.
class RunBuilder {
 public:
  explicit RunBuilder(RunSink& sink) : sink_(sink) {}
  bool Compare(const uint8_t* a, const uint8_t* b, size_t n, uint64_t at);
  bool Flush();

 private:
  bool Changed(uint64_t start, uint64_t length);
  RunSink& sink_;
  uint64_t start_ = 0, end_ = 0;  // the open run; empty when start_ == end_
};

}  // namespace zelp::author
