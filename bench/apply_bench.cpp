// The record applier on in-memory files: the cost per record of the engine
// itself (parsing, checking, the write call), without the kernel.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "common/report.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "support/mem_file.h"
#include "support/patch_builder.h"

namespace {

constexpr int64_t kTargetSize = 16 << 20;

// `records` records of 1-32 bytes at increasing scattered positions.
struct Case {
  std::vector<uint8_t> patch, target;
};

Case Make(int records, bool withCrc) {
  std::mt19937 rng(7);
  Case c;
  c.target.resize(kTargetSize);
  for (auto& b : c.target) b = static_cast<uint8_t>(rng());
  PatchBuilder p;
  p.Header(kTargetSize, withCrc ? zelp::Crc32Of(c.target.data(), c.target.size()) : 0);
  const uint32_t gap = static_cast<uint32_t>(kTargetSize / records);
  for (int i = 0; i < records; ++i) {
    std::vector<uint8_t> data(1 + rng() % 32);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    p.Rel(i == 0 ? 0 : gap, data);
  }
  p.End();
  c.patch = p.bytes;
  return c;
}

void Quiet(void*, const char16_t*, void*) {}

// The writing pass alone (ApplyRecords), the patch positioned at its records.
void BM_ApplyRecords(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  Case c = Make(records, false);
  auto stub = std::make_unique<CPatchStub>(0);
  zelp::ReportRoute quiet(Quiet, nullptr);
  MemFile patch(c.patch), target(c.target);
  for (auto _ : state) {
    patch.Seek(40);
    if (!stub->ApplyRecords(patch, target, nullptr)) state.SkipWithError("failed");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
  state.counters["ns_per_record"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * records * 1e-9,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The whole procedure on a 16 MiB target: header, CRC, checking pass,
// resize, writing pass.
void BM_ApplyOpened(benchmark::State& state) {
  const int records = static_cast<int>(state.range(0));
  Case c = Make(records, true);
  auto stub = std::make_unique<CPatchStub>(0);
  zelp::ReportRoute quiet(Quiet, nullptr);
  for (auto _ : state) {
    state.PauseTiming();
    MemFile patch(c.patch), target(c.target);
    state.ResumeTiming();
    if (!stub->ApplyOpened(patch, target, nullptr)) state.SkipWithError("failed");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records);
}

BENCHMARK(BM_ApplyRecords)->Arg(20000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApplyOpened)->Arg(20000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
