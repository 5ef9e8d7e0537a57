// Crash points: a journalled run is stopped at every change it makes (a
// write, a flush, a size, the journal's publication and removal), losing
// what was not flushed (a power cut) or keeping it (a killed process); then
// the next run. The target is always the original or the patched file once
// the next run has dealt with the journal, and applying again gives the
// patched file.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "engine/journal.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "support/fault_file.h"
#include "support/mem_file.h"
#include "support/mem_journal.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

namespace {

struct CrashCase {
  const char* name;
  size_t length;
  int64_t newSize;
};

const CrashCase kCrashCases[] = {
    {"growing", 50000, 70000},
    {"cutting", 50000, 20000},  // records past the cut too
    {"same size", 50000, 50000},
};

// Runs the whole procedure (recovery first) on the target and the journal.
void Apply(const std::vector<uint8_t>& patch, CKOVA_xFile& target, MemJournalSpot& spot) {
  MemFile p(patch);
  testutil::ReportLog quiet;
  auto stub = std::make_unique<CPatchStub>(0);
  stub->ApplyRecovering(p, target, nullptr, spot);
}

TEST(JournalCrash, EveryStopLeavesTheOriginalOrThePatchedFile) {
  int points = 0;
  for (const CrashCase& c : kCrashCases) {
    const auto original = testutil::RandomBytes(c.length, 3);
    PatchBuilder b;
    b.Header(c.newSize, zelp::Crc32Of(original.data(), original.size()));
    for (uint64_t at = 100; at < c.length + 10000; at += 7000)
      b.Abs(at, testutil::RandomBytes(3000, static_cast<uint32_t>(at)));
    b.End();
    std::vector<uint8_t> patched;
    int steps = 0;
    {
      MemFile t(original);
      Power count;
      Power* on = &count;
      CrashFile target(t, &on);
      MemJournalSpot spot;
      spot.power = &count;
      Apply(b.bytes, target, spot);
      patched = t.data;
      steps = count.steps;
      ASSERT_NE(original, patched) << c.name;
      ASSERT_FALSE(spot.exists) << c.name;
    }
    for (int stop = 1; stop <= steps; ++stop) {
      for (bool powerCut : {false, true}) {
        const std::string where = std::string(c.name) + " stopped at change " +
                                  std::to_string(stop) + (powerCut ? " (power cut)" : " (killed)");
        MemFile t(original);
        Power power;
        power.stopAt = stop;
        Power* on = &power;
        CrashFile target(t, &on);
        target.durable = original;
        MemJournalSpot spot;
        spot.power = &power;
        Apply(b.bytes, target, spot);
        ++points;
        // What the disk holds afterwards, and the next run on it.
        MemFile next(powerCut ? target.durable : t.data);
        MemJournalSpot nextSpot;
        nextSpot.exists = spot.exists;
        nextSpot.file.data = powerCut ? spot.writing.durable : spot.file.data;
        zelp::Recovery r = zelp::RecoverFromJournal(nextSpot, next);
        EXPECT_TRUE(r.state == zelp::Recovered::kNone || r.state == zelp::Recovered::kRolledBack ||
                    r.state == zelp::Recovered::kFinished)
            << where << ": " << static_cast<int>(r.state);
        EXPECT_TRUE(next.data == original || next.data == patched) << where << ": a mixed file";
        Apply(b.bytes, next, nextSpot);
        EXPECT_TRUE(next.data == patched) << where << ": applying again";
        EXPECT_FALSE(nextSpot.exists) << where << ": a journal stayed";
      }
    }
  }
  std::printf("journal crash points: %d\n", points);
}

}  // namespace

// A journal of the older release ("ZELPJRN1": no identity, no CRC-32 of the
// file) is put back under that release's rules: the target's name and a
// window of sizes; and, like any journal, only when it can be trusted.
TEST(JournalCrash, AnOlderReleasesJournalIsHonouredUnderItsRules) {
  auto v1 = [](const std::u16string& name, uint64_t size) {
    std::vector<uint8_t> j = {'Z', 'E', 'L', 'P', 'J', 'R', 'N', '1'};
    auto put = [&j](uint64_t v, int n) {
      for (int i = 0; i < n; ++i) j.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(size, 8), put(size, 8), put(size + 100, 8), put(size + 100, 8);  // old, window, final
    put(name.size(), 4);
    for (char16_t c : name) put(c, 2);
    put(10, 8), put(5, 4);
    for (int i = 0; i < 5; ++i) j.push_back(0xAA);
    put(~uint64_t{0}, 8), put(0, 4);
    put(zelp::Crc32Of(j.data(), j.size()), 4);
    return j;
  };
  const auto original = testutil::RandomBytes(1000, 9);
  auto before = original;
  std::fill(before.begin() + 10, before.begin() + 15, 0xAA);
  struct Case {
    const char* name;
    std::u16string journalFor;
    bool trusted;
    zelp::Recovered state;
  } cases[] = {
      {"its own file", u"target.rom", true, zelp::Recovered::kRolledBack},
      {"another file's", u"other.rom", true, zelp::Recovered::kForeign},
      {"planted by someone else", u"target.rom", false, zelp::Recovered::kUntrusted},
  };
  for (const Case& c : cases) {
    MemFile target(original);
    target.data.resize(1050);  // grown by the run that stopped
    MemJournalSpot spot;
    spot.exists = true;
    spot.trusted = c.trusted;
    spot.file.data = v1(c.journalFor, 1000);
    EXPECT_EQ(c.state, zelp::RecoverFromJournal(spot, target).state) << c.name;
    if (c.state == zelp::Recovered::kRolledBack) {
      EXPECT_TRUE(target.data == before) << c.name;
    } else {
      EXPECT_EQ(1050u, target.data.size()) << c.name << ": applied";
    }
  }
}
