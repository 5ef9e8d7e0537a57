// Runs the application procedure of `zelp apply` on real files and prints
// how long its phases took, so the flush can be reported apart:
//   zelp_apply_phases PATCH TARGET [--no-journal]
// prints "total_ms crc_ms flush_ms" on one line (exit 1 on failure). With
// --no-journal the run keeps no rollback journal, for comparison.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "common/report.h"
#include "engine/by_name.h"
#include "engine/patch_stub.h"
#include "file/file.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The platform file with its CRC and flush timed.
class TimedFile : public CKOVA_File {
 public:
  bool WholeCrc32(uint32_t& crc) override {
    auto t = Clock::now();
    bool r = CKOVA_File::WholeCrc32(crc);
    crcMs += Ms(Clock::now() - t);
    return r;
  }
  bool Flush() override {
    auto t = Clock::now();
    bool r = CKOVA_File::Flush();
    flushMs += Ms(Clock::now() - t);
    return r;
  }
  double crcMs = 0, flushMs = 0;
};

std::u16string Wide(const char* s) {
  std::u16string w;
  for (; *s; ++s) w += static_cast<char16_t>(static_cast<unsigned char>(*s));  // ASCII paths
  return w;
}

void Quiet(void*, const char16_t*, void*) {}

}  // namespace

int main(int argc, char** argv) {
  bool journal = argc == 3;
  if (argc != 3 && !(argc == 4 && std::string(argv[3]) == "--no-journal")) {
    std::fprintf(stderr, "usage: zelp_apply_phases PATCH TARGET [--no-journal]\n");
    return 2;
  }
  auto start = Clock::now();
  auto stub = std::make_unique<CPatchStub>(0);
  CKOVA_File patch;
  TimedFile target;
  zelp::ReportRoute quiet(Quiet, nullptr);
  if (!zelp::Open(Wide(argv[1]).c_str(), patch, zelp::kModeRead, zelp::kShareRead) ||
      !zelp::Open(Wide(argv[2]).c_str(), target, zelp::kModeReadWrite, zelp::kShareRead)) {
    std::fprintf(stderr, "cannot open\n");
    return 1;
  }
  zelp::FileJournalSpot spot(Wide(argv[2]).c_str(), target);
  if (!stub->ApplyOpened(patch, target, nullptr, journal ? &spot : nullptr)) {
    std::fprintf(stderr, "apply failed\n");
    return 1;
  }
  patch.Close();
  target.Close();
  double total = Ms(Clock::now() - start);
  std::printf("%.2f %.2f %.2f\n", total, target.crcMs, target.flushMs);
  return 0;
}
