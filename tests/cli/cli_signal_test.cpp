// zelp apply against the signals a shell sends: a closed pipe for its report,
// and Ctrl-C at any moment of a long run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::WriteFile;

namespace {

// Fewer under the sanitizers, which check each run, not the statistics.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 5;
#else
constexpr int kRuns = 20;
#endif

// The report going to a pipe nobody reads any more: the run still patches,
// ends with exit 1 and no death by SIGPIPE.
TEST(CliSignals, AClosedPipeForTheReportIsAFailureNotADeath) {
  testutil::TempDir dir;
  PatchBuilder p;
  p.Header(4, 0).Abs(1, {0x42}).End();
  WriteFile(dir.File("p"), p.bytes);
  WriteFile(dir.File("t"), {1, 2, 3, 4});
  auto r = RunProgram(
      "/bin/bash", {"-c", "{ sleep 0.3; \"$0\" apply \"$1\" \"$2\"; echo \"exit $?\" >&2; } | true",
                    ZELP_BIN, dir.File("p"), dir.File("t")});
  EXPECT_NE(std::string::npos, r.err.find("exit 1")) << r.err;
  EXPECT_EQ((std::vector<uint8_t>{1, 0x42, 3, 4}), ReadFile(dir.File("t")));
}

// Ctrl-C (SIGINT) or SIGTERM at random moments of a run with many records:
// the target is always the original or the patched file, never a mix.
TEST(CliSignals, InterruptedRunsLeaveTheOriginalOrThePatchedFile) {
  testutil::TempDir dir;
  const size_t size = 8 << 20;
  const auto original = testutil::RandomBytes(size, 5);
  PatchBuilder p;
  p.Header(static_cast<int64_t>(size), zelp::Crc32Of(original.data(), original.size()));
  std::mt19937 rng(6);
  for (uint64_t at = 0; at + 64 < size; at += 1000 + rng() % 9000) {
    std::vector<uint8_t> data(1 + rng() % 64, static_cast<uint8_t>(rng()));
    p.Abs(at, data);
  }
  p.End();
  WriteFile(dir.File("p"), p.bytes);
  WriteFile(dir.File("t"), original);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
  const auto patched = ReadFile(dir.File("t"));
  int runs = 0, unchanged = 0, done = 0;
  for (int i = 0; i < kRuns; ++i) {
    WriteFile(dir.File("t"), original);
    pid_t pid = ::fork();
    if (pid == 0) {
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1), ::dup2(null, 2);
      ::execl(ZELP_BIN, ZELP_BIN, "apply", dir.File("p").c_str(), dir.File("t").c_str(), nullptr);
      ::_exit(127);
    }
    // Anywhere from the start to a little past the end of a whole run.
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % (took * 5 / 4 + 1)));
    ::kill(pid, i % 2 ? SIGINT : SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto now = ReadFile(dir.File("t"));
    ++runs;
    if (now == original) {
      ++unchanged;
    } else {
      ++done;
      EXPECT_TRUE(now == patched) << "run " << i << ": a mixed file";
    }
  }
  std::printf("interrupted runs: %d (a whole run %lld us): target unchanged %d, patched %d\n", runs,
              static_cast<long long>(took), unchanged, done);
}

}  // namespace
