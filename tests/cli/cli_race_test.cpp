// Two `zelp apply` runs racing on one target: the target is locked for the
// whole application, so the second run is refused while the first works,
// and a run that comes after finds the target changed (its CRC-32 no longer
// matches). The result is never a mix of two runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/reference_patch.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct Race {
  TempDir dir;
  std::vector<uint8_t> original, expected;
  std::string patch = dir.File("p.zelp"), target = dir.File("t.bin");

  explicit Race(bool withCrc) {
    original = testutil::RandomBytes(4 << 20, 11);
    PatchBuilder p;
    p.Header(static_cast<int64_t>(original.size()) + 100000,
             withCrc ? zelp::Crc32Of(original.data(), original.size()) : 0);
    for (uint32_t i = 0; i < 72; ++i)
      p.Abs(static_cast<uint64_t>(i) * 60000, testutil::RandomBytes(59000, 100 + i));
    p.End();
    WriteFile(patch, p.bytes);
    auto want = reference::Apply(p.bytes, 0, original, int64_t{1} << 40);
    EXPECT_EQ(u"补丁成功", want.message);
    expected = want.out;
  }

  // Starts two runs at once; returns how many succeeded, counting the
  // failure messages in `refusals`.
  int Round(std::map<std::string, int>& refusals) {
    WriteFile(target, original);
    testutil::Running a(ZELP_BIN, {"apply", patch, target});
    testutil::Running b(ZELP_BIN, {"apply", patch, target});
    int ok = 0;
    for (auto r : {a.Wait(), b.Wait()}) {
      if (r.exitCode == 0) {
        ++ok;
        EXPECT_TRUE(testutil::SaysPatched(r.out)) << r.out;
      } else {
        // 1: the target is in use; 3: already patched by the other run.
        EXPECT_TRUE(r.exitCode == 1 || r.exitCode == 3) << r.exitCode << r.err;
        ++refusals[r.err.substr(0, r.err.find('\n') + 1)];  // the program's own line
      }
    }
    EXPECT_TRUE(ReadFile(target) == expected) << "the target is not the patched file";
    return ok;
  }
};

}  // namespace

TEST(CliRace, WithACrcExactlyOneRunApplies) {
  Race race(true);
  std::map<std::string, int> refusals;
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(1, race.Round(refusals));
  }
  for (const auto& [text, n] : refusals) {
    EXPECT_TRUE(text == "目标文件打开失败\n" || text == "目标文件没有通过CRC32验证\n") << text;
    std::printf("second run: %d x %s", n, text.c_str());
  }
}

TEST(CliRace, WithoutACrcTheResultIsStillNeverMixed) {
  // With no CRC check a run that starts after the other has finished applies
  // the patch again, which gives the same bytes.
  Race race(false);
  std::map<std::string, int> refusals;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int ok = race.Round(refusals);
    EXPECT_GE(ok, 1);
  }
  for (const auto& [text, n] : refusals) EXPECT_EQ("目标文件打开失败\n", text) << n;
}

TEST(CliRace, TwoDifferentPatchesNeverMix) {
  // Both patches fit the original; whichever run gets the target first
  // applies in full, and the other is refused.
  TempDir dir;
  auto original = testutil::RandomBytes(3 << 20, 21);
  uint32_t crc = zelp::Crc32Of(original.data(), original.size());
  std::vector<uint8_t> results[2];
  std::string patches[2] = {dir.File("p1.zelp"), dir.File("p2.zelp")};
  for (int k = 0; k < 2; ++k) {
    PatchBuilder p;
    p.Header(static_cast<int64_t>(original.size()) + 50000 * k, crc);
    for (uint32_t i = 0; i < 50; ++i)
      p.Abs(static_cast<uint64_t>(i) * 61000 + 1000 * k,
            testutil::RandomBytes(60000, 500 + 100 * k + i));
    p.End();
    WriteFile(patches[k], p.bytes);
    auto want = reference::Apply(p.bytes, 0, original, int64_t{1} << 40);
    ASSERT_EQ(u"补丁成功", want.message);
    results[k] = want.out;
  }
  std::string target = dir.File("t.bin");
  int won[2] = {0, 0};
  for (int round = 0; round < 12; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    WriteFile(target, original);
    testutil::Running a(ZELP_BIN, {"apply", patches[round % 2], target});
    testutil::Running b(ZELP_BIN, {"apply", patches[1 - round % 2], target});
    auto ra = a.Wait(), rb = b.Wait();
    EXPECT_EQ(1, (ra.exitCode == 0) + (rb.exitCode == 0)) << ra.err << rb.err;
    auto got = ReadFile(target);
    bool first = got == results[0], second = got == results[1];
    EXPECT_TRUE(first || second) << "the target is a mix of both patches";
    won[second ? 1 : 0]++;
  }
  std::printf("first patch applied %d times, second %d times\n", won[0], won[1]);
}
