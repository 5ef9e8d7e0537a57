#include "author/differ.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "file/crc32.h"

namespace zelp::author {

namespace {

// Equal stretches are skipped this many bytes at a time with memcmp, which
// the C library runs with the widest vector instructions at hand.
constexpr size_t kChunk = 4096;
const uint8_t kZeros[kChunk] = {};

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

bool RunBuilder::Changed(uint64_t start, uint64_t length) {
  if (start_ != end_ && start == end_) {
    end_ += length;
    return true;
  }
  if (!Flush()) return false;
  start_ = start;
  end_ = start + length;
  return true;
}

bool RunBuilder::Flush() {
  if (start_ == end_) return true;
  uint64_t start = start_, length = end_ - start_;
  start_ = end_ = 0;
  return sink_.OnRun(start, length);
}

bool RunBuilder::Compare(const uint8_t* a, const uint8_t* b, size_t n, uint64_t at) {
  for (size_t base = 0; base < n; base += kChunk) {
    const size_t len = std::min(kChunk, n - base);
    const uint8_t* pa = a ? a + base : kZeros;
    const uint8_t* pb = b + base;
    if (std::memcmp(pa, pb, len) == 0) continue;
    size_t i = 0;
    while (i < len) {
      while (i + 8 <= len && Load64(pa + i) == Load64(pb + i)) i += 8;
      if (i >= len) break;
      if (pa[i] == pb[i]) {
        ++i;
        continue;
      }
      size_t j = i + 1;
      while (j < len && pa[j] != pb[j]) ++j;
      if (!Changed(at + base + i, j - i)) return false;
      i = j;
    }
  }
  return true;
}

DiffStatus DiffFiles(CKOVA_xFile& original, CKOVA_xFile& modified, RunSink& sink,
                     const DiffOptions& options, DiffResult& result) {
  result = DiffResult{};
  original.GetSize(result.originalSize);
  modified.GetSize(result.modifiedSize);
  if (!original.Seek(0)) return DiffStatus::kReadOriginal;
  if (!modified.Seek(0)) return DiffStatus::kReadModified;
  const size_t block = std::max<size_t>(options.blockSize, kChunk);
  std::vector<uint8_t> bufA(block), bufB(block);
  _m_CRC32 crc;
  RunBuilder runs(sink);

  const uint64_t origSize = static_cast<uint64_t>(result.originalSize);
  const uint64_t modSize = static_cast<uint64_t>(result.modifiedSize);
  uint64_t pos = 0;
  while (pos < modSize) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(block, modSize - pos));
    if (!ReadExact(modified, bufB.data(), n)) return DiffStatus::kReadModified;
    // The part of this block that the original still covers; the rest is
    // compared with zeros.
    const size_t inOrig =
        pos < origSize ? static_cast<size_t>(std::min<uint64_t>(n, origSize - pos)) : 0;
    if (inOrig) {
      if (!ReadExact(original, bufA.data(), inOrig)) return DiffStatus::kReadOriginal;
      if (options.crc) crc.Update(bufA.data(), inOrig);
      if (!runs.Compare(bufA.data(), bufB.data(), inOrig, pos)) return DiffStatus::kStopped;
    }
    if (inOrig < n && !runs.Compare(nullptr, bufB.data() + inOrig, n - inOrig, pos + inOrig))
      return DiffStatus::kStopped;
    pos += n;
  }
  if (!runs.Flush()) return DiffStatus::kStopped;
  // What the original holds beyond the modified file's end still counts in
  // its CRC.
  if (options.crc) {
    while (pos < origSize) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(block, origSize - pos));
      if (!ReadExact(original, bufA.data(), n)) return DiffStatus::kReadOriginal;
      crc.Update(bufA.data(), n);
      pos += n;
    }
    result.originalCrc = crc.Final();
  }
  return DiffStatus::kOk;
}

}  // namespace zelp::author
