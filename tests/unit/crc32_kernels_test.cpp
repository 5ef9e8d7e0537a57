// Every CRC-32 kernel against the one-lookup-per-byte table, itself checked
// bit by bit: all short lengths at every alignment, long random buffers, and
// updates split at awkward places. Also compiled into the Win32 test program,
// for the kernels as MinGW builds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "file/crc32.h"

namespace {

using zelp::Crc32Fn;
using zelp::Crc32Kernel;

struct Available {
  Crc32Kernel kernel;
  Crc32Fn fn;
};

std::vector<Available> Kernels() {
  std::vector<Available> out;
  for (Crc32Kernel k : zelp::kAllCrc32Kernels)
    if (Crc32Fn fn = zelp::Crc32KernelFn(k)) out.push_back({k, fn});
  return out;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// The definition itself, one bit at a time: the oracle for short lengths,
// after which the table kernel is the oracle for long ones.
uint32_t BitwiseUpdate(uint32_t running, const uint8_t* p, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    running ^= p[i];
    for (int k = 0; k < 8; ++k) running = (running >> 1) ^ (0xEDB88320u & (0u - (running & 1)));
  }
  return running;
}

TEST(Crc32Table, EntriesAreTheCrcsOfSingleBytes) {
  EXPECT_EQ(0x00000000u, zelp::kCrcTable[0]);
  EXPECT_EQ(0x77073096u, zelp::kCrcTable[1]);
  EXPECT_EQ(0x2D02EF8Du, zelp::kCrcTable[255]);
  for (int i = 0; i < 256; ++i) {
    uint8_t b = static_cast<uint8_t>(i);
    EXPECT_EQ(BitwiseUpdate(0, &b, 1), zelp::kCrcTable[i]) << i;
  }
  EXPECT_EQ(0u, zelp::Crc32Of("", 0));
}

class Crc32KernelTest : public ::testing::TestWithParam<Crc32Kernel> {
 protected:
  Crc32Fn fn() {
    Crc32Fn f = zelp::Crc32KernelFn(GetParam());
    if (!f) ADD_FAILURE() << "not available";
    return f;
  }
};

TEST_P(Crc32KernelTest, CheckValue) {
  const char* nine = "123456789";
  EXPECT_EQ(0xCBF43926u, fn()(0xFFFFFFFFu, nine, 9) ^ 0xFFFFFFFFu);
  EXPECT_EQ(0xFFFFFFFFu, fn()(0xFFFFFFFFu, nine, 0));  // no data: unchanged
}

TEST_P(Crc32KernelTest, EveryLengthUpTo1024AtEveryAlignment) {
  std::vector<uint8_t> data = RandomBytes(1024, 11);
  std::vector<uint8_t> buf(1024 + 64 + 64);
  // The running value before the data varies with the length, so a kernel
  // that drops or misplaces it cannot pass.
  std::vector<uint32_t> want(1025);
  for (size_t len = 0; len <= 1024; ++len) {
    uint32_t start = 0x9E3779B9u * static_cast<uint32_t>(len + 1);
    want[len] = zelp::Crc32UpdateTable(start, data.data(), len);
    ASSERT_EQ(want[len], BitwiseUpdate(start, data.data(), len)) << len;
  }
  for (size_t align = 0; align < 64; ++align) {
    // Misaligned copy, with different bytes around it that must not be read.
    std::fill(buf.begin(), buf.end(), static_cast<uint8_t>(0xA5 ^ align));
    std::memcpy(buf.data() + align, data.data(), data.size());
    for (size_t len = 0; len <= 1024; ++len) {
      uint32_t start = 0x9E3779B9u * static_cast<uint32_t>(len + 1);
      ASSERT_EQ(want[len], fn()(start, buf.data() + align, len))
          << "length " << len << " alignment " << align;
    }
  }
}

TEST_P(Crc32KernelTest, RandomLongBuffers) {
  std::vector<uint8_t> data = RandomBytes(6 << 20, 12);
  std::mt19937 rng(13);
  for (int i = 0; i < 12; ++i) {
    size_t len = rng() % (data.size() - 64);
    size_t off = rng() % 64;
    uint32_t start = rng();
    uint32_t want = zelp::Crc32UpdateTable(start, data.data() + off, len);
    EXPECT_EQ(want, fn()(start, data.data() + off, len)) << "length " << len << " offset " << off;
  }
  // The whole buffer, which no fold loop can leave a tail of.
  EXPECT_EQ(zelp::Crc32UpdateTable(0xFFFFFFFFu, data.data(), data.size()),
            fn()(0xFFFFFFFFu, data.data(), data.size()));
}

TEST_P(Crc32KernelTest, SplitUpdatesEqualOneUpdate) {
  std::vector<uint8_t> data = RandomBytes(300000, 14);
  const uint32_t whole = zelp::Crc32UpdateTable(0xFFFFFFFFu, data.data(), data.size());
  // Split points around every block size a kernel works in.
  const size_t cuts[] = {0,    1,    3,    15,   16,    17,    63,     64,    65,
                         127,  128,  129,  255,  256,   257,   511,    512,   513,
                         1023, 1024, 4095, 4096, 65535, 65536, 299999, 300000};
  for (size_t a : cuts) {
    for (size_t b : cuts) {
      if (b < a) continue;
      uint32_t r = fn()(0xFFFFFFFFu, data.data(), a);
      r = fn()(r, data.data() + a, b - a);
      r = fn()(r, data.data() + b, data.size() - b);
      ASSERT_EQ(whole, r) << "cuts at " << a << " and " << b;
    }
  }
  // Many random pieces, as a file read in odd-sized chunks gives them.
  std::mt19937 rng(15);
  uint32_t r = 0xFFFFFFFFu;
  for (size_t at = 0; at < data.size();) {
    size_t n = std::min<size_t>(rng() % 3000, data.size() - at);
    r = fn()(r, data.data() + at, n);
    at += n;
  }
  EXPECT_EQ(whole, r);
}

std::vector<Crc32Kernel> AvailableKernels() {
  std::vector<Crc32Kernel> out;
  for (const Available& a : Kernels()) out.push_back(a.kernel);
  return out;
}

INSTANTIATE_TEST_SUITE_P(All, Crc32KernelTest, ::testing::ValuesIn(AvailableKernels()),
                         [](const ::testing::TestParamInfo<Crc32Kernel>& info) {
                           std::string name = zelp::Crc32KernelName(info.param);
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(Crc32Dispatch, UsesTheWidestKernelThisProcessorHasAndAgrees) {
  Crc32Kernel widest = Crc32Kernel::kSlicing16;
  for (const Available& a : Kernels())
    if (a.kernel != Crc32Kernel::kTable) widest = a.kernel;
  EXPECT_EQ(widest, zelp::Crc32ActiveKernel());
  std::vector<uint8_t> data = RandomBytes(100000, 16);
  EXPECT_EQ(zelp::Crc32UpdateTable(0x12345678u, data.data(), data.size()),
            zelp::Crc32Update(0x12345678u, data.data(), data.size()));
#ifdef _WIN32
  // The 256- and 512-bit kernels are never built for Windows.
  EXPECT_EQ(nullptr, zelp::Crc32KernelFn(Crc32Kernel::kClmul256));
  EXPECT_EQ(nullptr, zelp::Crc32KernelFn(Crc32Kernel::kClmul512));
#endif
  std::printf("CRC-32 kernel in use: %s\n", zelp::Crc32KernelName(zelp::Crc32ActiveKernel()));
}

}  // namespace
