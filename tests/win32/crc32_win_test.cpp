// The CRC-32 kernels as the Windows build compiles them (Win64 calling
// convention, MinGW code generation): every kernel Windows may choose agrees
// with the table, and the 256/512-bit ones are never chosen there.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "file/crc32.h"

namespace {

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> d(n);
  uint32_t x = 2463534242u;
  for (auto& b : d) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return d;
}

TEST(Crc32Win, KernelsAgreeWithTheTable) {
  const std::vector<uint8_t> data = Bytes((3 << 20) + 64);
  for (zelp::Crc32Kernel k : zelp::kAllCrc32Kernels) {
    zelp::Crc32Fn fn = zelp::Crc32KernelFn(k);
    if (!fn) continue;
    SCOPED_TRACE(zelp::Crc32KernelName(k));
    for (size_t align = 0; align < 64; align += 7) {
      for (size_t len = 0; len <= 1024; ++len) {
        uint32_t start = 0x9E3779B9u * static_cast<uint32_t>(len + 1);
        ASSERT_EQ(zelp::Crc32UpdateTable(start, data.data() + align, len),
                  fn(start, data.data() + align, len))
            << "length " << len << " alignment " << align;
      }
    }
    const size_t longs[] = {4096, 65537, 1000003, 3 << 20};
    for (size_t len : longs)
      EXPECT_EQ(zelp::Crc32UpdateTable(0xFFFFFFFFu, data.data() + 3, len),
                fn(0xFFFFFFFFu, data.data() + 3, len))
          << len;
  }
  EXPECT_EQ(0xCBF43926u, zelp::Crc32Of("123456789", 9));
}

TEST(Crc32Win, WideKernelsAreNeverChosen) {
  EXPECT_EQ(nullptr, zelp::Crc32KernelFn(zelp::Crc32Kernel::kClmul256));
  EXPECT_EQ(nullptr, zelp::Crc32KernelFn(zelp::Crc32Kernel::kClmul512));
  zelp::Crc32Kernel active = zelp::Crc32ActiveKernel();
  EXPECT_TRUE(active == zelp::Crc32Kernel::kClmul128 || active == zelp::Crc32Kernel::kSlicing16)
      << zelp::Crc32KernelName(active);
}

}  // namespace
