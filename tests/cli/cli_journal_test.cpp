// The rollback journal through the built zelp: runs killed at random moments
// leave a target that its journal puts back, and a damaged or foreign journal
// is never applied.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "engine/by_name.h"
#include "file/crc32.h"
#include "file/file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::U16;
using testutil::WriteFile;

namespace {

// Fewer under the sanitizers, which check each run, not the statistics.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 5;
#else
constexpr int kRuns = 25;
#endif

// A patch with many records over a target of `size` bytes, and its result.
struct Case {
  std::vector<uint8_t> original, patch, patched;
};

Case MakeCase(const testutil::TempDir& dir, size_t size, int64_t newSize) {
  Case c;
  c.original = testutil::RandomBytes(size, 5);
  PatchBuilder p;
  p.Header(newSize, zelp::Crc32Of(c.original.data(), c.original.size()));
  std::mt19937 rng(6);
  for (uint64_t at = 0; at + 64 < size + size / 8; at += 500 + rng() % 4000)
    p.Abs(at, std::vector<uint8_t>(1 + rng() % 64, static_cast<uint8_t>(rng())));
  p.End();
  c.patch = p.bytes;
  WriteFile(dir.File("p"), c.patch);
  WriteFile(dir.File("t"), c.original);
  EXPECT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
  c.patched = ReadFile(dir.File("t"));
  return c;
}

TEST(CliJournal, KilledRunsArePutBackByTheJournal) {
  testutil::TempDir dir;
  for (int64_t newSize : {int64_t{12} << 20, int64_t{5} << 20}) {  // growing, then cutting
    Case c = MakeCase(dir, 8 << 20, newSize);
    auto start = std::chrono::steady_clock::now();
    WriteFile(dir.File("t"), c.original);
    ASSERT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    std::mt19937 rng(7);
    int original = 0, patched = 0, putBack = 0;
    for (int i = 0; i < kRuns; ++i) {  // 50 in all
      WriteFile(dir.File("t"), c.original);
      pid_t pid = ::fork();
      if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1), ::dup2(null, 2);
        ::execl(ZELP_BIN, ZELP_BIN, "apply", dir.File("p").c_str(), dir.File("t").c_str(), nullptr);
        ::_exit(127);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % (took + 1)));
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      // What the next run does first: the target is the original or the
      // patched file, never a mix.
      {
        zelp::FileJournalSpot spot(U16(dir.File("t")).c_str());
        CKOVA_File target;
        ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), target, zelp::kModeReadWrite,
                                zelp::kShareRead));
        auto state = zelp::RecoverFromJournal(spot, target);
        ASSERT_TRUE(state == zelp::JournalState::kNone ||
                    state == zelp::JournalState::kRolledBack ||
                    state == zelp::JournalState::kFinished)
            << "run " << i << ": " << static_cast<int>(state);
        putBack += state != zelp::JournalState::kNone;
      }
      const auto now = ReadFile(dir.File("t"));
      ASSERT_TRUE(now == c.original || now == c.patched) << "run " << i << ": a mixed file";
      (now == c.original ? original : patched)++;
      // And a run afterwards finishes the job.
      if (now == c.original) {
        ASSERT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
        ASSERT_TRUE(ReadFile(dir.File("t")) == c.patched) << "run " << i;
      }
    }
    std::printf(
        "killed runs (size %lld): %d left the original, %d the patched file; %d journals "
        "found and resolved\n",
        static_cast<long long>(newSize), original, patched, putBack);
  }
}

TEST(CliJournal, ADamagedOrForeignJournalIsLeftAlone) {
  testutil::TempDir dir;
  Case c = MakeCase(dir, 1 << 20, 1 << 20);
  // A journal made for another file, and one damaged in its last byte.
  WriteFile(dir.File("other"), c.original);
  {
    zelp::FileJournalSpot spot(U16(dir.File("other")).c_str());
    CKOVA_File other;
    ASSERT_EQ(1, zelp::Open(U16(dir.File("other")).c_str(), other, zelp::kModeReadWrite,
                            zelp::kShareRead));
    zelp::JournalPlan plan;
    plan.oldSize = plan.lowest = plan.highest = plan.finalSize = 1 << 20;
    plan.ranges = {{10, 20}};
    ASSERT_TRUE(zelp::WriteJournal(spot, other, plan));
  }
  auto journal = ReadFile(dir.File("other.zelp-journal"));
  auto damaged = journal;
  damaged.back() ^= 1;
  for (const auto& bytes : {journal, damaged}) {
    WriteFile(dir.File("t"), c.original);
    WriteFile(dir.File("t.zelp-journal"), bytes);
    auto r = RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("zelp: the journal beside the target")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("目标文件打开失败")) << r.err;
    EXPECT_TRUE(ReadFile(dir.File("t")) == c.original);
    EXPECT_EQ(bytes, ReadFile(dir.File("t.zelp-journal")));
  }
}

}  // namespace
