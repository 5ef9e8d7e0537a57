#include "file/crc32.h"

#include <atomic>

#include "file/crc32_kernels.h"

namespace zelp {

namespace {

// Slicing-by-16 tables: entry [k][i] is the CRC of byte i followed by k zero
// bytes, so sixteen independent lookups advance the CRC by 16 bytes.
struct SliceTables {
  uint32_t t[16][256];
};

constexpr SliceTables MakeSliceTables() {
  SliceTables s{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    s.t[0][i] = c;
  }
  for (int k = 1; k < 16; ++k)
    for (uint32_t i = 0; i < 256; ++i)
      s.t[k][i] = (s.t[k - 1][i] >> 8) ^ s.t[0][s.t[k - 1][i] & 0xFF];
  return s;
}

constexpr SliceTables kSlice = MakeSliceTables();

}  // namespace

// Row 0 of the slicing tables is the standard table.
const uint32_t (&kCrcTable)[256] = kSlice.t[0];

uint32_t Crc32UpdateTable(uint32_t running, const void* data, size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < len; ++i) running = (running >> 8) ^ kCrcTable[(running ^ p[i]) & 0xFF];
  return running;
}

namespace {

inline uint32_t LoadLe32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32UpdateSlicing16(uint32_t running, const void* data, size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  const auto& t = kSlice.t;
  while (len >= 16) {
    uint32_t a = LoadLe32(p) ^ running, b = LoadLe32(p + 4), c = LoadLe32(p + 8),
             d = LoadLe32(p + 12);
    running = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    p += 16;
    len -= 16;
  }
  return Crc32UpdateTable(running, p, len);
}

namespace {

Crc32Kernel Choose() {
  if (Crc32KernelFn(Crc32Kernel::kClmul512)) return Crc32Kernel::kClmul512;
  if (Crc32KernelFn(Crc32Kernel::kClmul256)) return Crc32Kernel::kClmul256;
  if (Crc32KernelFn(Crc32Kernel::kClmul128)) return Crc32Kernel::kClmul128;
  return Crc32Kernel::kSlicing16;
}

uint32_t Resolve(uint32_t running, const void* data, size_t len);

// Starts at the resolver, which asks the processor once and puts the chosen
// kernel here (a plain function pointer: MinGW has no ifunc).
std::atomic<Crc32Fn> g_kernel{&Resolve};

uint32_t Resolve(uint32_t running, const void* data, size_t len) {
  Crc32Fn fn = Crc32KernelFn(Choose());
  g_kernel.store(fn, std::memory_order_relaxed);
  return fn(running, data, len);
}

}  // namespace

uint32_t Crc32Update(uint32_t running, const void* data, size_t len) {
  return g_kernel.load(std::memory_order_relaxed)(running, data, len);
}

Crc32Fn Crc32KernelFn(Crc32Kernel kernel) {
  switch (kernel) {
    case Crc32Kernel::kTable: return &Crc32UpdateTable;
    case Crc32Kernel::kSlicing16: return &Crc32UpdateSlicing16;
    case Crc32Kernel::kClmul128: return CpuHasClmul128() ? &Crc32UpdateClmul128 : nullptr;
    case Crc32Kernel::kClmul256: return CpuHasClmul256() ? &Crc32UpdateClmul256 : nullptr;
    case Crc32Kernel::kClmul512: return CpuHasClmul512() ? &Crc32UpdateClmul512 : nullptr;
  }
  return nullptr;
}

const char* Crc32KernelName(Crc32Kernel kernel) {
  switch (kernel) {
    case Crc32Kernel::kTable: return "table";
    case Crc32Kernel::kSlicing16: return "slicing-by-16";
    case Crc32Kernel::kClmul128: return "pclmul-128";
    case Crc32Kernel::kClmul256: return "vpclmul-256";
    case Crc32Kernel::kClmul512: return "vpclmul-512";
  }
  return "?";
}

Crc32Kernel Crc32ActiveKernel() { return Choose(); }

}  // namespace zelp
