// CRC-32 of ISO-HDLC (zlib, PNG): reflected polynomial 0xEDB88320, initial
// value 0xFFFFFFFF, final value inverted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelp {

// The whole-file CRC reads at most this many bytes at a time (32 MiB).
constexpr int64_t kCrcChunk = 33554432;

// The standard lookup table: entry i is the CRC of the single byte i.
extern const uint32_t kCrcTable[256];

// Advances a running (not inverted) CRC over `len` bytes, one table lookup
// per byte. Every faster kernel must give exactly the same result.
uint32_t Crc32UpdateTable(uint32_t running, const void* data, size_t len);

// Advances a running CRC with the fastest kernel this processor has.
uint32_t Crc32Update(uint32_t running, const void* data, size_t len);

// CRC-32 of a buffer, finished.
inline uint32_t Crc32Of(const void* data, size_t len) {
  return Crc32Update(0xFFFFFFFFu, data, len) ^ 0xFFFFFFFFu;
}

}  // namespace zelp

// The running CRC value of one computation.
class _m_CRC32 {
 public:
  _m_CRC32() = default;
  virtual ~_m_CRC32() = default;
  void Update(const void* data, size_t len) { value = zelp::Crc32Update(value, data, len); }
  uint32_t Final() const { return value ^ 0xFFFFFFFFu; }

  uint32_t value = 0xFFFFFFFFu;
};
