// Throughput of each CRC-32 kernel and of zlib's crc32, at sizes that sit in
// L1/L2 (4 KiB), L2/L3 (1 MiB) and memory (32 MiB).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "file/crc32.h"

namespace {

const std::vector<uint8_t>& Data() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(32 << 20);
    std::mt19937_64 rng(1);
    for (size_t i = 0; i < d.size(); i += 8) {
      uint64_t v = rng();
      std::memcpy(d.data() + i, &v, 8);
    }
    return d;
  }();
  return data;
}

void BM_Kernel(benchmark::State& state, zelp::Crc32Kernel kernel) {
  zelp::Crc32Fn fn = zelp::Crc32KernelFn(kernel);
  if (!fn) {
    state.SkipWithError("not available on this processor");
    return;
  }
  const size_t len = static_cast<size_t>(state.range(0));
  const uint8_t* p = Data().data();
  uint32_t crc = 0xFFFFFFFFu;
  for (auto _ : state) {
    crc = fn(crc, p, len);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
}

void BM_Zlib(benchmark::State& state) {
  const size_t len = static_cast<size_t>(state.range(0));
  const uint8_t* p = Data().data();
  uLong crc = 0;
  for (auto _ : state) {
    crc = crc32(crc, p, static_cast<uInt>(len));
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
}

void BM_Dispatched(benchmark::State& state) {
  const size_t len = static_cast<size_t>(state.range(0));
  const uint8_t* p = Data().data();
  uint32_t crc = 0xFFFFFFFFu;
  for (auto _ : state) {
    crc = zelp::Crc32Update(crc, p, len);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(len));
  state.SetLabel(zelp::Crc32KernelName(zelp::Crc32ActiveKernel()));
}

#define ZELP_SIZES ->Arg(4 << 10)->Arg(1 << 20)->Arg(32 << 20)
BENCHMARK(BM_Zlib) ZELP_SIZES;
BENCHMARK_CAPTURE(BM_Kernel, table, zelp::Crc32Kernel::kTable) ZELP_SIZES;
BENCHMARK_CAPTURE(BM_Kernel, slicing16, zelp::Crc32Kernel::kSlicing16) ZELP_SIZES;
BENCHMARK_CAPTURE(BM_Kernel, pclmul128, zelp::Crc32Kernel::kClmul128) ZELP_SIZES;
BENCHMARK_CAPTURE(BM_Kernel, vpclmul256, zelp::Crc32Kernel::kClmul256) ZELP_SIZES;
BENCHMARK_CAPTURE(BM_Kernel, vpclmul512, zelp::Crc32Kernel::kClmul512) ZELP_SIZES;
BENCHMARK(BM_Dispatched) ZELP_SIZES;

}  // namespace

BENCHMARK_MAIN();
