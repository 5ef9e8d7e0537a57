// Injected faults: every call that a whole application makes on the patch
// file and on the target is made to fail (and, for reads, writes and space
// reservation, to come up short) in turn. Each run must end in exactly one
// report, the message that belongs to what the failing call was for (told by
// its position and argument, never by its place in the order of calls), and
// a target in one of the states README.md promises ("Guarantees"). Short
// reads are always completed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "common/text.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "support/fault_file.h"
#include "support/mem_file.h"
#include "support/mem_journal.h"
#include "support/patch_builder.h"
#include "support/reference_patch.h"
#include "support/test_util.h"

namespace {

const std::u16string kSuccess = u"补丁成功";

struct Scenario {
  const char* name;
  uint64_t base;              // junk bytes before the patch in its file
  size_t targetLen;           // the target before patching
  int64_t targetSize;         // the header's target size
  bool crc;                   // whether the header carries the target's CRC
  size_t records;             // how many records
  uint64_t firstAt;           // where the first one is written
  size_t recordSize = 60000;  // bytes in each (a few more in later ones)
  uint64_t step = 40000;      // from one record's start to the next
};

// What the target may look like after a failed run.
enum class State {
  kUnchanged,  // byte for byte the original, size included
  kWriting,    // resized, the first k records written, the (k+1)-th possibly in part
};

struct Expect {
  std::u16string message;
  State state = State::kUnchanged;
};

struct Built {
  std::vector<uint8_t> holder, target;
  uint64_t recordsAt = 0;
  std::vector<reference::Write> writes;
  std::vector<uint8_t> resized;  // the target grown, before any write
  std::vector<uint8_t> final;    // the patched target
};

Built Build(const Scenario& s) {
  Built b;
  b.target = testutil::RandomBytes(s.targetLen, 7);
  PatchBuilder p;
  p.Raw(std::vector<uint8_t>(s.base, 'x'));
  uint32_t crc = s.crc ? zelp::Crc32Of(b.target.data(), b.target.size()) : 0;
  p.Header(s.targetSize, crc);
  uint64_t at = s.firstAt;
  for (size_t i = 0; i < s.records; ++i) {
    auto data = testutil::RandomBytes(s.recordSize + i * 7, 100 + static_cast<uint32_t>(i));
    if (i % 2 == 0 || at < b.writes.back().position) {
      p.Abs(at, data);
    } else {
      p.Rel(static_cast<uint32_t>(at - b.writes.back().position), data);
    }
    b.writes.push_back({at, data});
    at = (at + s.step) % (s.targetLen + 30000);  // overlapping, some past the end
  }
  p.End();
  p.Description(u"说明");
  b.holder = p.bytes;
  b.recordsAt = s.base + 40;
  auto clean = reference::Apply(b.holder, s.base, b.target, int64_t{1} << 40);
  EXPECT_EQ(kSuccess, clean.message) << s.name;
  // Before the first write the target has grown to its final size if that
  // is larger; a cut comes last. When records reach past a cut, the cut
  // bytes are zeroed first, like a first record.
  const size_t oldSize = b.target.size(), finalSize = clean.out.size();
  b.resized = b.target;
  b.resized.resize(std::max(oldSize, finalSize), 0);
  uint64_t extent = 0;
  for (const auto& w : b.writes) extent = std::max<uint64_t>(extent, w.position + w.data.size());
  const uint64_t zeroEnd = std::min<uint64_t>(oldSize, extent), cut = s.targetSize;
  if (cut < zeroEnd)
    b.writes.insert(b.writes.begin(), {cut, std::vector<uint8_t>(zeroEnd - cut, 0)});
  b.final = clean.out;
  return b;
}

// The state after k records, with record k (0-based) possibly in part.
// Or, when only the last flush failed, the patched target.
bool MatchesWritingState(const Built& b, const std::vector<uint8_t>& got) {
  if (got == b.final) return true;
  if (got.size() != b.resized.size()) return false;
  std::vector<uint8_t> before = b.resized;
  for (size_t k = 0; k <= b.writes.size(); ++k) {
    if (k == b.writes.size()) return got == before;
    std::vector<uint8_t> after = before;
    const auto& w = b.writes[k];
    std::copy(w.data.begin(), w.data.end(), after.begin() + static_cast<long>(w.position));
    bool ok = true;
    for (size_t i = 0; ok && i < got.size(); ++i) ok = got[i] == before[i] || got[i] == after[i];
    // Outside record k the bytes must be exactly `before`.
    for (size_t i = 0; ok && i < got.size(); ++i) {
      bool inRecord = i >= w.position && i < w.position + w.data.size();
      if (!inRecord) ok = got[i] == before[i];
    }
    if (ok) return true;
    before = after;
  }
  return false;
}

class Sweep {
 public:
  Sweep(const Scenario& s) : s_(s), b_(Build(s)) {
    Run(nullptr, Op::kCount, 0, Fault::kFail, clean_);
    EXPECT_EQ(kSuccess, clean_.report) << s.name;
  }

  // Whether the clean run had made a call of `op` on the target before the
  // call numbered `seq`.
  bool TargetHadBefore(Op op, int seq) const {
    for (const auto& c : clean_.targetLog)
      if (c.op == op && c.seq < seq) return true;
    return false;
  }
  // Whether the target may have changed before the call numbered `seq`.
  bool TargetTouchedBefore(int seq) const {
    return TargetHadBefore(Op::kReserve, seq) || TargetHadBefore(Op::kSetEnd, seq) ||
           TargetHadBefore(Op::kWrite, seq);
  }

  struct Result {
    std::u16string report;
    size_t reports = 0;
    std::vector<uint8_t> target;
    std::vector<FaultFile::Call> patchLog, targetLog;
    bool fired = false;
    int firedSeq = -1;
  };

  // Runs the application with the n-th `op` call of `which` ("patch" or
  // "target"; null for none) faulted.
  void Run(const char* which, Op op, int n, Fault fault, Result& r,
           MemJournalSpot* journal = nullptr) {
    MemFile patchMem(b_.holder), targetMem(b_.target);
    int clock = 0;
    FaultFile patch(patchMem, clock), target(targetMem, clock);
    if (which) (std::string(which) == "patch" ? patch : target).Arm(op, n, fault);
    auto stub = std::make_unique<CPatchStub>(s_.base);
    testutil::ReportLog log;
    if (journal) journal->clock = &clock;
    stub->ApplyOpened(patch, target, nullptr, journal);
    r.reports = log.texts.size();
    r.report = log.texts.empty() ? u"" : log.texts[0];
    r.target = targetMem.data;
    r.patchLog = patch.Log();
    r.targetLog = target.Log();
    r.fired = patch.Fired() || target.Fired();
    r.firedSeq = patch.Fired() ? patch.FiredSeq() : target.FiredSeq();
  }

  // What a fault in the clean run's call `c` (the n-th of its kind) must give.
  Expect ExpectFor(bool onPatch, const FaultFile::Call& c, Fault fault,
                   const std::vector<FaultFile::Call>& log, size_t index) const {
    const State leaves = TargetTouchedBefore(c.seq) ? State::kWriting : State::kUnchanged;
    if (onPatch) {
      switch (c.op) {
        case Op::kRead: {
          if (fault == Fault::kShort) return {kSuccess};
          // A failed read ends the file where it stands.
          int64_t field = c.position - static_cast<int64_t>(s_.base);
          if (field < 16) return {u"ZELP补丁文件已经损坏(1)"};
          if (field < 24) return {u"补丁文件已损坏(1)"};
          if (field < 28) return {u"补丁文件已损坏(2)"};
          if (field < 32) return {u"补丁文件已损坏(3)"};
          if (field < 40) return {kSuccess};  // the description offset, not needed
          std::vector<uint8_t> cut(b_.holder.begin() + static_cast<long>(b_.recordsAt),
                                   b_.holder.begin() + c.position);
          std::u16string message = reference::ParseRecords(cut, nullptr, nullptr);
          // A read past the complete stream loses nothing.
          if (message.empty()) return {kSuccess};
          return {message, leaves};
        }
        case Op::kSeek:
          // To the base: the file stands at 0, where junk precedes the patch.
          if (c.arg == static_cast<int64_t>(s_.base))
            return {s_.base ? u"ZELP补丁文件已经损坏(2)" : kSuccess};
          return {u"设置文件指针错误(1)", leaves};
        case Op::kSize: return {u"补丁文件已损坏(4)"};
        default: return {u"<unexpected call on the patch>"};
      }
    }
    switch (c.op) {
      case Op::kTell: return {kSuccess};
      case Op::kSeek: {
        // What the move was for shows in the call that follows it.
        Op next = index + 1 < log.size() ? log[index + 1].op : Op::kCount;
        if (next == Op::kSetEnd) return {u"改变文件大小失败,可能是磁盘容量不足"};
        if (next == Op::kWrite) return {u"打补丁失败\n设置ROM文件位置失败", State::kWriting};
        // The CRC's move to the start, before its reads: the file cannot be
        // read, which is no CRC verdict. Its move back afterwards may fail.
        if (s_.crc && !TargetHadBefore(Op::kRead, c.seq) && !TargetTouchedBefore(c.seq))
          return {u"目标文件打开失败"};
        return {kSuccess};
      }
      case Op::kSize:
        // The CRC's size comes before its reads.
        if (s_.crc && !TargetHadBefore(Op::kRead, c.seq) && !TargetTouchedBefore(c.seq))
          return {u"目标文件打开失败"};
        return {u"改变文件大小失败,可能是磁盘容量不足"};
      case Op::kRead: return {fault == Fault::kShort ? kSuccess : u"目标文件打开失败"};
      case Op::kReserve:
        return {u"改变文件大小失败,可能是磁盘容量不足",
                TargetTouchedBefore(c.seq) ? State::kWriting : State::kUnchanged};
      case Op::kSetEnd:  // the cut, the last change
        return {u"改变文件大小失败,可能是磁盘容量不足",
                TargetTouchedBefore(c.seq) ? State::kWriting : State::kUnchanged};
      case Op::kWrite: return {u"打补丁失败\n写数据失败", State::kWriting};
      case Op::kFlush: return {u"打补丁失败\n写数据失败", State::kWriting};
      default: return {u"<unexpected call on the target>"};
    }
  }

  void CheckState(const Expect& e, const Result& r, const std::string& where) {
    switch (e.state) {
      case State::kUnchanged:
        EXPECT_TRUE(r.target == b_.target) << where << ": target changed";
        break;
      case State::kWriting:
        EXPECT_TRUE(MatchesWritingState(b_, r.target)) << where << ": not a partly written target";
        break;
    }
  }

  void Go() {
    for (const char* which : {"patch", "target"}) {
      const auto& log = std::string(which) == "patch" ? clean_.patchLog : clean_.targetLog;
      int seen[static_cast<int>(Op::kCount)] = {};
      for (size_t i = 0; i < log.size(); ++i) {
        const auto& c = log[i];
        int n = ++seen[static_cast<int>(c.op)];
        for (Fault fault : {Fault::kFail, Fault::kShort}) {
          bool canShorten = c.op == Op::kRead || c.op == Op::kWrite || c.op == Op::kReserve;
          if (fault == Fault::kShort && !canShorten) continue;
          std::string where = std::string(s_.name) + " " + which + " " + OpName(c.op) + " #" +
                              std::to_string(n) + (fault == Fault::kShort ? " short" : " fail");
          Expect e = ExpectFor(which[0] == 'p', c, fault, log, i);
          Result r;
          Run(which, c.op, n, fault, r);
          ++positions;
          ASSERT_TRUE(r.fired) << where << ": the fault never came";
          ASSERT_EQ(1u, r.reports) << where;
          EXPECT_EQ(zelp::Utf16ToUtf8(e.message), zelp::Utf16ToUtf8(r.report)) << where;
          if (r.report == kSuccess) {
            EXPECT_TRUE(r.target == clean_.target) << where << ": success with other bytes";
          } else {
            CheckState(e, r, where);
          }
          if (r.report == kSuccess)
            ++succeeded;
          else if (r.target == b_.target)
            ++unchanged;
        }
      }
    }
  }

  // With a journal, every fault once the journal is durable ends in one
  // failure report, the target byte for byte the original and the journal
  // gone (or in success with the patched target).
  void GoJournalled() {
    MemJournalSpot spot;
    Result clean;
    Run(nullptr, Op::kCount, 0, Fault::kFail, clean, &spot);
    ASSERT_EQ(kSuccess, clean.report) << s_.name;
    ASSERT_TRUE(clean.target == clean_.target) << s_.name;
    ASSERT_FALSE(spot.exists) << s_.name;
    ASSERT_GE(spot.durableAt, 0) << s_.name;
    int seen[static_cast<int>(Op::kCount)] = {};
    for (const auto& c : clean.targetLog) {
      int n = ++seen[static_cast<int>(c.op)];
      if (c.seq < spot.durableAt) continue;
      for (Fault fault : {Fault::kFail, Fault::kShort}) {
        if (fault == Fault::kShort && c.op != Op::kWrite && c.op != Op::kReserve) continue;
        std::string where = std::string(s_.name) + " journalled " + OpName(c.op) + " #" +
                            std::to_string(n) + (fault == Fault::kShort ? " short" : " fail");
        MemJournalSpot faulted;
        Result r;
        Run("target", c.op, n, fault, r, &faulted);
        ++positions;
        ASSERT_EQ(1u, r.reports) << where;
        EXPECT_FALSE(faulted.exists) << where << ": the journal stayed";
        if (r.report == kSuccess) {
          EXPECT_TRUE(r.target == clean_.target) << where << ": success with other bytes";
          ++succeeded;
        } else {
          EXPECT_TRUE(r.target == b_.target) << where << ": not rolled back";
          ++unchanged;
        }
      }
    }
  }

  int positions = 0, succeeded = 0, unchanged = 0;

 private:
  Scenario s_;
  Built b_;
  Result clean_;
};

const Scenario kScenarios[] = {
    // name, base, target length, target size, crc, records, first at
    {"grow", 64, 100000, 100050, true, 10, 1000},
    {"shrink_then_write_within", 0, 200000, 50000, true, 4, 150000},
    {"shrink_then_write_past", 17, 120000, 30000, false, 6, 130000},
    {"same_size", 0, 90000, 90000, false, 8, 0},
    {"many_small_records", 3, 40000, 40000, true, 120, 10, 5, 300},
};

TEST(FaultSweep, EveryChangeOfAJournalledApplicationIsRolledBack) {
  for (const Scenario& s : kScenarios) {
    Sweep sweep(s);
    sweep.GoJournalled();
    std::printf(
        "journalled fault sweep %-26s %3d positions: %3d still succeeded, %3d rolled back\n",
        s.name, sweep.positions, sweep.succeeded, sweep.unchanged);
    EXPECT_EQ(sweep.positions, sweep.succeeded + sweep.unchanged) << s.name;
  }
}

TEST(FaultSweep, EveryCallOfAWholeApplication) {
  int positions = 0, succeeded = 0, unchanged = 0;
  for (const Scenario& s : kScenarios) {
    Sweep sweep(s);
    sweep.Go();
    std::printf(
        "fault sweep %-26s %3d positions: %3d still succeeded, %3d failed leaving the "
        "target unchanged, %3d failed after it was resized\n",
        s.name, sweep.positions, sweep.succeeded, sweep.unchanged,
        sweep.positions - sweep.succeeded - sweep.unchanged);
    positions += sweep.positions;
    succeeded += sweep.succeeded;
    unchanged += sweep.unchanged;
  }
  std::printf(
      "fault sweep total: %d positions: %d still succeeded, %d failed leaving the target "
      "unchanged, %d failed after it was resized\n",
      positions, succeeded, unchanged, positions - succeeded - unchanged);
}

}  // namespace

// Start-up's header read: every failed call makes it fail, except around the
// description, which is shown as far as it could be read; short reads are
// completed.
TEST(FaultSweep, EveryCallOfTheHeaderRead) {
  const uint64_t base = 33;
  PatchBuilder p;
  p.Raw(std::vector<uint8_t>(base, 'x')).Header(1234, 0xCAFEBABE).Abs(1, {2}).End();
  size_t descAt = p.bytes.size() - base;
  const std::u16string text = u"说明文字: a description of some length";
  p.Description(text);
  p.SetU64(base + 32, descAt);

  auto run = [&](Op op, int n, Fault fault, std::vector<FaultFile::Call>* log) {
    MemFile mem(p.bytes);
    int clock = 0;
    FaultFile file(mem, clock);
    if (n) file.Arm(op, n, fault);
    auto stub = std::make_unique<CPatchStub>(base);
    testutil::ReportLog reports;
    int ok = stub->LoadPatchInfoFromFile(file);
    EXPECT_TRUE(reports.texts.empty());
    if (log) *log = file.Log();
    EXPECT_TRUE(!n || file.Fired());
    return std::make_pair(ok, std::u16string(stub->info.description));
  };
  std::vector<FaultFile::Call> clean;
  ASSERT_EQ(1, run(Op::kCount, 0, Fault::kFail, &clean).first);
  int seen[static_cast<int>(Op::kCount)] = {};
  int positions = 0;
  for (const auto& c : clean) {
    int n = ++seen[static_cast<int>(c.op)];
    for (Fault fault : {Fault::kFail, Fault::kShort}) {
      if (fault == Fault::kShort && c.op != Op::kRead) continue;
      std::string where = std::string(OpName(c.op)) + " #" + std::to_string(n) +
                          (fault == Fault::kShort ? " short" : " fail");
      auto [ok, description] = run(c.op, n, fault, nullptr);
      ++positions;
      const int64_t descriptionAt = static_cast<int64_t>(base + descAt);
      bool descriptionCall = (c.op == Op::kSeek && c.arg == descriptionAt) ||
                             (c.op == Op::kRead && c.position >= descriptionAt);
      if (fault == Fault::kShort) {
        EXPECT_EQ(1, ok) << where;
        EXPECT_EQ(text, description) << where;
      } else if (descriptionCall) {
        // As far as it was read before the failing call.
        size_t units = c.op == Op::kSeek ? 0 : static_cast<size_t>(c.position - descriptionAt) / 2;
        EXPECT_EQ(1, ok) << where;
        EXPECT_EQ(text.substr(0, units), description) << where;
      } else {
        EXPECT_EQ(0, ok) << where;
      }
    }
  }
  std::printf("fault sweep of the header read: %d positions\n", positions);
}
