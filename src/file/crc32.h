// CRC-32 of ISO-HDLC (zlib, PNG): reflected polynomial 0xEDB88320, initial
// value 0xFFFFFFFF, final value inverted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelp {

// What the whole-file CRC reads at a time: small enough to hash each piece while it is still
// in the processor's cache, large enough that calls cost nothing (1 MiB).
constexpr int64_t kCrcReadSize = 1 << 20;

// The standard lookup table: entry i is the CRC of the single byte i.
extern const uint32_t (&kCrcTable)[256];

// Advances a running (not inverted) CRC over `len` bytes, one table lookup
// per byte. Every faster kernel must give exactly the same result.
uint32_t Crc32UpdateTable(uint32_t running, const void* data, size_t len);

// Advances a running CRC with the fastest kernel this processor has.
uint32_t Crc32Update(uint32_t running, const void* data, size_t len);

// CRC-32 of a buffer, finished.
inline uint32_t Crc32Of(const void* data, size_t len) {
  return Crc32Update(0xFFFFFFFFu, data, len) ^ 0xFFFFFFFFu;
}

// The kernels behind Crc32Update, for tests and benchmarks. All take and
// return a running value, like Crc32UpdateTable.
using Crc32Fn = uint32_t (*)(uint32_t running, const void* data, size_t len);
enum class Crc32Kernel {
  kTable,      // one lookup per byte
  kSlicing16,  // sixteen lookups per 16 bytes, any processor
  kClmul128,   // carry-less multiplication folding, 128-bit vectors
  kClmul256,   // the same with 256-bit vectors (VPCLMULQDQ + AVX2)
  kClmul512,   // the same with 512-bit vectors (VPCLMULQDQ + AVX-512)
};
constexpr Crc32Kernel kAllCrc32Kernels[] = {Crc32Kernel::kTable, Crc32Kernel::kSlicing16,
                                            Crc32Kernel::kClmul128, Crc32Kernel::kClmul256,
                                            Crc32Kernel::kClmul512};
// The kernel's function, or null when this build or processor lacks it.
Crc32Fn Crc32KernelFn(Crc32Kernel kernel);
const char* Crc32KernelName(Crc32Kernel kernel);
// The kernel Crc32Update uses here.
Crc32Kernel Crc32ActiveKernel();

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
