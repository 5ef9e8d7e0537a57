// The application procedure and the record stream: what is written, which
// message is shown, and that a failed run leaves the target untouched.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>

#include "engine/outcome.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"
#include "file/crc32.h"
#include "support/mem_file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using namespace zelp;
using Bytes = std::vector<uint8_t>;

namespace {

struct Result {
  int ok;
  zelp::Outcome outcome;
  Bytes target;
};

// Applies the patch in `holder` to a copy of `target`. The one report must be
// the outcome's own text, and an outcome that promises an untouched target
// must have left it so.
Result Apply(const Bytes& holder, const Bytes& target, uint64_t base = 0,
             int64_t limit = int64_t{1} << 32) {
  auto stub = std::make_unique<CPatchStub>(base);
  MemFile patch(holder), t(target);
  t.limit = limit;
  t.reach = int64_t{1} << 44;  // as far as ext4 can seek
  testutil::ReportLog log;
  int ok = stub->ApplyOpened(patch, t, nullptr);
  EXPECT_EQ(ReportText(stub->outcome), log.Only());
  if (!MayHaveWritten(stub->outcome)) {
    EXPECT_EQ(target, t.data);
  }
  return {ok, stub->outcome, t.data};
}

Bytes Stream(const Bytes& records, int64_t size = 10, uint32_t crc = 0) {
  PatchBuilder p;
  p.Header(size, crc).Raw(records);
  return p.bytes;
}

Bytes Ten() { return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; }

}  // namespace

TEST(Apply, HeaderFailuresLeaveTargetUntouched) {
  auto header = [](const char* ident, int64_t size, uint32_t crc, uint32_t off) {
    PatchBuilder p;
    p.Header(size, crc, off, 0, ident).End();
    return p.bytes;
  };
  Bytes good = header("KOVA-PATCH3.0", 10, 0, 40);
  struct Case {
    const char* name;
    Bytes holder;
    zelp::Outcome outcome;
  } cases[] = {
      {"empty", {}, Outcome::kIdentShort},
      {"15 bytes", Bytes(good.begin(), good.begin() + 15), Outcome::kIdentShort},
      {"one number", header("KOVA-PATCH3", 10, 0, 40), Outcome::kIdentBad},
      {"no prefix", header("KOVA-PACH3.0", 10, 0, 40), Outcome::kIdentBad},
      {"2.0", header("KOVA-PATCH2.0", 10, 0, 40), Outcome::kOldVersion},
      {"1.5", header("KOVA-PATCH1.5", 10, 0, 40), Outcome::kOldVersion},
      {"3.1", header("KOVA-PATCH3.1", 10, 0, 40), Outcome::kUnknownVersion},
      {"4.0", header("KOVA-PATCH4.0", 10, 0, 40), Outcome::kUnknownVersion},
      {"size cut", Bytes(good.begin(), good.begin() + 23), Outcome::kTargetSizeField},
      {"negative size", header("KOVA-PATCH3.0", -1, 0, 40), Outcome::kTargetSizeField},
      {"crc cut", Bytes(good.begin(), good.begin() + 27), Outcome::kCrcFieldCut},
      {"crc mismatch", header("KOVA-PATCH3.0", 10, 0x12345678, 40), Outcome::kCrcMismatch},
      {"offset cut", Bytes(good.begin(), good.begin() + 31), Outcome::kRecordsFieldCut},
      {"offset 39", header("KOVA-PATCH3.0", 10, 0, 39), Outcome::kRecordsOutside},
      {"offset = file size", header("KOVA-PATCH3.0", 10, 0, 41), Outcome::kRecordsOutside},
  };
  for (const auto& c : cases) {
    Result o = Apply(c.holder, Ten());
    EXPECT_EQ(0, o.ok) << c.name;
    EXPECT_EQ(c.outcome, o.outcome) << c.name;
    EXPECT_EQ(Ten(), o.target) << c.name;
  }
}

TEST(Apply, DamagedStreamsLeaveTargetUntouched) {
  // Every stream writes a good record first, so a half-applying procedure
  // would show in the target.
  Bytes first = {0x01, 2, 0, 0, 0, 1, 0, 0xEE};
  auto with = [&](Bytes tail) {
    Bytes s = first;
    s.insert(s.end(), tail.begin(), tail.end());
    return s;
  };
  struct Case {
    const char* name;
    Bytes records;
    zelp::Outcome outcome;
    int64_t size;
  } cases[] = {
      {"no end record", with({}), Outcome::kTypeCut, 10},
      {"distance cut", with({0x01, 1, 0, 0}), Outcome::kDistanceCut, 10},
      {"position cut", with({0x02, 1, 0, 0, 0, 0, 0}), Outcome::kPositionCut, 10},
      {"type 0x03", with({0x03}), Outcome::kBadRecordType, 10},
      {"type 0x00", with({0x00, 0xFF}), Outcome::kBadRecordType, 10},
      {"length cut", with({0x01, 1, 0, 0, 0, 5}), Outcome::kLengthCut, 10},
      {"data cut", with({0x01, 1, 0, 0, 0, 5, 0, 1, 2}), Outcome::kDataCut, 10},
      {"position 2^63", with({0x02, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0xFF}), Outcome::kUnreachable,
       10},
      {"position 2^64-1", with({0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0xFF}),
       Outcome::kUnreachable, 10},
      // Relative steps that climb past 2^63 fail the same way.
      {"relative past 2^63",
       with({0x02, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0,  //
             0x01, 0x20, 0, 0, 0, 0, 0, 0xFF}),
       Outcome::kUnreachable, 10},
      // Even with a new size (truncation) the target keeps its old state.
      {"shrinking patch, no end", with({}), Outcome::kTypeCut, 3},
      {"growing patch, bad type", with({0x07}), Outcome::kBadRecordType, 100},
  };
  for (const auto& c : cases) {
    Result o = Apply(Stream(c.records, c.size), Ten());
    EXPECT_EQ(0, o.ok) << c.name;
    EXPECT_EQ(c.outcome, o.outcome) << c.name;
    EXPECT_EQ(Ten(), o.target) << c.name;
  }
}

TEST(Apply, RecordStreams) {
  struct Case {
    const char* name;
    Bytes records;
    int64_t size;
    Bytes want;
  } cases[] = {
      {"relative distances count from the previous record's position",
       {0x01, 5, 0, 0, 0, 2, 0, 0xAA, 0xBB, 0x01, 3, 0, 0, 0, 1, 0, 0xCC, 0xFF},
       10,
       {1, 2, 3, 4, 5, 0xAA, 0xBB, 8, 0xCC, 10}},
      {"end record alone keeps the bytes", {0xFF}, 10, Ten()},
      {"distance 0 rewrites the same place; later records win",
       {0x01, 1, 0, 0, 0, 3, 0, 7, 7, 7, 0x01, 0, 0, 0, 0, 1, 0, 9, 0xFF},
       10,
       {1, 9, 7, 7, 5, 6, 7, 8, 9, 10}},
      {"length 0 moves and writes nothing",
       {0x01, 4, 0, 0, 0, 0, 0, 0x01, 1, 0, 0, 0, 1, 0, 0x55, 0xFF},
       10,
       {1, 2, 3, 4, 5, 0x55, 7, 8, 9, 10}},
      {"absolute then relative",
       {0x02, 7, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0xA1, 0x01, 2, 0, 0, 0, 1, 0, 0xA2, 0xFF},
       10,
       {1, 2, 3, 4, 5, 6, 7, 0xA1, 9, 0xA2}},
      {"a larger size zero-fills", {0xFF}, 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0}},
      {"a smaller size truncates", {0x01, 1, 0, 0, 0, 1, 0, 0x42, 0xFF}, 3, {1, 0x42, 3}},
      {"records beyond the size extend the file",
       {0x02, 12, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0xB1, 0xB2, 0xFF},
       10,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 0, 0xB1, 0xB2}},
      {"bytes cut by the truncation come back as zeros",
       {0x02, 6, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0xC1, 0xFF},
       3,
       {1, 2, 3, 0, 0, 0, 0xC1}},
      // Writing nothing needs no seek, even where the file system cannot reach.
      {"an empty record far away does not extend",
       {0x02, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0xFF},
       10,
       Ten()},
      {"an empty record past what the file system reaches, after a write",
       {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0xAA, 0x02, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0xFF},
       4,
       {0xAA, 2, 3, 4}},
  };
  for (const auto& c : cases) {
    Result o = Apply(Stream(c.records, c.size), Ten());
    EXPECT_EQ(1, o.ok) << c.name;
    EXPECT_EQ(Outcome::kOk, o.outcome) << c.name;
    EXPECT_EQ(c.want, o.target) << c.name;
  }
}

TEST(Apply, CrcCheck) {
  uint32_t crc = Crc32Of(Ten().data(), 10);
  Bytes patch = Stream({0x01, 0, 0, 0, 0, 1, 0, 0x77, 0xFF}, 10, crc);
  Result first = Apply(patch, Ten());
  ASSERT_EQ(1, first.ok);
  Bytes once = first.target;
  EXPECT_EQ(0x77, once[0]);
  // The patched file no longer has the CRC: the second run changes nothing.
  Result second = Apply(patch, once);
  EXPECT_EQ(0, second.ok);
  EXPECT_EQ(Outcome::kCrcMismatch, second.outcome);
  EXPECT_EQ(once, second.target);
  // CRC 0: applied whatever the contents.
  Result any = Apply(Stream({0x01, 0, 0, 0, 0, 1, 0, 0x77, 0xFF}, 10, 0), Bytes(10, 0xEE));
  EXPECT_EQ(1, any.ok);
}

TEST(Apply, PatchAtABaseInsideALargerFile) {
  Result o = Apply(WithPrefix(300, Stream({0x01, 1, 0, 0, 0, 1, 0, 0x99, 0xFF}, 10)), Ten(), 300);
  EXPECT_EQ(1, o.ok);
  EXPECT_EQ(0x99, o.target[1]);
  // The records offset is bounded by the holder's size, not the patch's:
  // 200 lies past this patch's end but inside the file, so the header check
  // passes and the stream, read from the program bytes, is refused.
  PatchBuilder p;
  p.Header(10, 0, 200).End();
  o = Apply(WithPrefix(300, p.bytes), Ten(), 300);
  EXPECT_EQ(Outcome::kTypeCut, o.outcome);
  EXPECT_EQ(Ten(), o.target);
}

TEST(Apply, FullDiskIsFoundBeforeAnyRecordIsWritten) {
  struct Case {
    const char* name;
    Bytes records;
    int64_t size;
  } cases[] = {
      {"new size too large", {0x01, 0, 0, 0, 0, 1, 0, 0x11, 0xFF}, 64},
      {"records reach too far",
       {0x01, 0, 0, 0, 0, 1, 0, 0x11, 0x02, 60, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0xFF},
       10},
      {"shrink, then records reach too far",
       {0x01, 0, 0, 0, 0, 1, 0, 0x11, 0x02, 60, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0xFF},
       4},
  };
  for (const auto& c : cases) {
    Result o = Apply(Stream(c.records, c.size), Ten(), 0, /*limit=*/32);
    EXPECT_EQ(0, o.ok) << c.name;
    EXPECT_EQ(Outcome::kResize, o.outcome) << c.name;
    EXPECT_EQ(Ten(), o.target) << c.name;
  }
}

class FailingFlush : public MemFile {
 public:
  using MemFile::MemFile;
  bool Flush() override { return false; }
};

TEST(Apply, SuccessOnlyAfterTheDataIsFlushed) {
  auto stub = std::make_unique<CPatchStub>(0);
  MemFile patch(Stream({0xFF}, 10));
  FailingFlush target(Ten());
  testutil::ReportLog log;
  EXPECT_EQ(0, stub->ApplyOpened(patch, target, nullptr));
  EXPECT_EQ(ReportText(Outcome::kWriteFailed), log.Only());
}

TEST(Apply, ThroughRealFiles) {
  testutil::TempDir dir;
  auto path = [&](const char* n) { return testutil::U16(dir.File(n)); };
  testutil::WriteFile(dir.File("p"), Stream({0x01, 0, 0, 0, 0, 1, 0, 0x31, 0xFF}, 10));
  testutil::WriteFile(dir.File("t"), Ten());
  auto stub = std::make_unique<CPatchStub>(0);
  struct Case {
    const char* patch;
    const char* target;
    zelp::Outcome outcome;
  } cases[] = {
      {"missing", "t", Outcome::kPatchOpen},
      {"p", "missing", Outcome::kTargetOpen},
      {"p", "p", Outcome::kTargetOpen},  // the patch file itself
      {"p", "t", Outcome::kOk},
  };
  for (const auto& c : cases) {
    testutil::ReportLog log;
    stub->ApplyPatchFiles(path(c.patch).c_str(), path(c.target).c_str(), nullptr);
    EXPECT_EQ(ReportText(c.outcome), log.Only()) << c.patch << " " << c.target;
  }
  Bytes want = Ten();
  want[0] = 0x31;
  EXPECT_EQ(want, testutil::ReadFile(dir.File("t")));
  EXPECT_EQ(Stream({0x01, 0, 0, 0, 0, 1, 0, 0x31, 0xFF}, 10), testutil::ReadFile(dir.File("p")));
}

// Someone rewrites or cuts the patch file between the checking pass and the
// writing pass (a POSIX lock is only advisory): only what was checked is
// written.
class SwapsPatchOnResize : public MemFile {
 public:
  SwapsPatchOnResize(Bytes bytes, MemFile& patch, Bytes replacement)
      : MemFile(std::move(bytes)), patch_(patch), replacement_(std::move(replacement)) {}
  bool Reserve(int64_t size) override {
    patch_.data = replacement_;
    return MemFile::Reserve(size);
  }

 private:
  MemFile& patch_;
  Bytes replacement_;
};

TEST(Apply, OnlyTheCheckedStreamIsWritten) {
  const Bytes checked = Stream({0x01, 1, 0, 0, 0, 2, 0, 0xA1, 0xA2, 0xFF}, 12);
  const Bytes other = Stream({0x02, 0x40, 0x4B, 0x4C, 0, 0, 0, 0, 0, 1, 0, 0xEE, 0xFF}, 12);
  struct Case {
    const char* name;
    Bytes replacement;
  } cases[] = {
      {"rewritten", other},
      {"cut short", Bytes(checked.begin(), checked.begin() + 45)},
      {"emptied", {}},
  };
  Bytes want = Ten();
  want[1] = 0xA1, want[2] = 0xA2;
  want.resize(12, 0);
  for (const auto& c : cases) {
    auto stub = std::make_unique<CPatchStub>(0);
    MemFile patch(checked);
    SwapsPatchOnResize target(Ten(), patch, c.replacement);
    testutil::ReportLog log;
    EXPECT_EQ(1, stub->ApplyOpened(patch, target, nullptr)) << c.name;
    EXPECT_EQ(ReportText(Outcome::kOk), log.Only()) << c.name;
    EXPECT_EQ(want, target.data) << c.name;
  }
}

// A stream too large to keep is read again in pieces, each compared with
// what the checking pass read before any of it is given out.
TEST(Apply, AStreamReadAgainStopsAtTheFirstPieceThatChanged) {
  const Bytes original = testutil::RandomBytes(3 * StreamReader::kPiece + 100, 9);
  MemFile file(original);
  CheckedStream checked;
  Bytes first(original.size());
  StreamReader note(file, &checked, /*keepMax=*/StreamReader::kPiece);
  ASSERT_EQ(original.size(), note.Read(first.data(), static_cast<uint32_t>(first.size())));
  ASSERT_FALSE(checked.kept);
  for (size_t changedAt :
       {size_t{0}, size_t{StreamReader::kPiece + 5}, original.size() - 1, original.size()}) {
    file.data = original;
    if (changedAt < original.size()) file.data[changedAt] ^= 1;
    file.pos = 0;
    StreamReader again(file, checked);
    Bytes got(original.size());
    uint32_t n = again.Read(got.data(), static_cast<uint32_t>(got.size()));
    bool same = changedAt == original.size();
    EXPECT_EQ(same ? original.size() : changedAt / StreamReader::kPiece * StreamReader::kPiece, n)
        << changedAt;
    EXPECT_EQ(!same, again.changed()) << changedAt;
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + n, original.begin())) << changedAt;
  }
}

// Writing inside the target can need space too (holes, copy on write): the
// ranges the records write inside the file are secured before anything
// changes, and when they cannot be, the target stays as it was.
class SecuringTarget : public MemFile {
 public:
  using MemFile::MemFile;
  bool SecureWrites(const std::vector<ByteRange>& ranges) override {
    asked = ranges;
    return allow;
  }
  std::vector<ByteRange> asked;
  bool allow = true;
};

TEST(Apply, SpaceForWritesInsideTheFileIsSecuredFirst) {
  const Bytes d10(10, 0xD1), d3(3, 0xD2);
  struct Case {
    const char* name;
    int64_t size;  // the header's target size (the file holds 10,000 bytes)
    PatchBuilder records;
    std::vector<std::pair<int64_t, int64_t>> want;
  } cases[] = {
      {"overlapping, and apart",
       10000,
       std::move(PatchBuilder().Abs(100, d10).Rel(5, d10).Abs(9000, d3)),
       {{100, 115}, {9000, 9003}}},
      {"in one block, out of order",
       10000,
       std::move(PatchBuilder().Abs(5000, d3).Abs(4200, d3)),
       {{4200, 5003}}},
      {"past the old end: the growth secured with them",
       20000,
       std::move(PatchBuilder().Abs(9995, d10).Abs(15000, d3)),
       {{9995, 10000}, {10000, 20000}}},
      {"past a cut: the bytes zeroed in its place too",
       50,
       std::move(PatchBuilder().Abs(40, d10).Abs(9000, d3)),
       {{40, 9003}}},
  };
  const Bytes original = testutil::RandomBytes(10000, 3);
  for (auto& c : cases) {
    for (bool allow : {true, false}) {
      PatchBuilder p;
      p.Header(c.size, 0).Raw(c.records.bytes).End();
      auto stub = std::make_unique<CPatchStub>(0);
      MemFile patch(p.bytes);
      SecuringTarget target(original);
      target.allow = allow;
      testutil::ReportLog log;
      EXPECT_EQ(allow ? 1 : 0, stub->ApplyOpened(patch, target, nullptr)) << c.name;
      std::vector<std::pair<int64_t, int64_t>> asked;
      for (const ByteRange& r : target.asked) asked.push_back({r.at, r.end});
      EXPECT_EQ(c.want, asked) << c.name;
      if (!allow) {
        EXPECT_EQ(ReportText(Outcome::kResize), log.Only()) << c.name;
        EXPECT_EQ(original, target.data) << c.name;
      }
    }
  }
}

// Ctrl-C, SIGTERM or SIGHUP in the writing pass wait until the run has made
// its report, and are then taken: the target is never left half written by
// one. (Before the writing pass they end the run as usual.)
volatile sig_atomic_t g_endRequests = 0;

class RequestsEndWhileWriting : public MemFile {
 public:
  using MemFile::MemFile;
  int64_t WriteAt(int64_t position, const void* buffer, uint32_t count) override {
    for (int s : {SIGINT, SIGTERM, SIGHUP}) ::raise(s);
    return MemFile::WriteAt(position, buffer, count);
  }
};

TEST(Apply, RequestsToEndWaitForTheReportAndAreTaken) {
  struct sigaction count = {}, old[3];
  count.sa_handler = [](int) { g_endRequests = g_endRequests + 1; };
  sigemptyset(&count.sa_mask);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, ::sigaction(signals[i], &count, &old[i]));
  g_endRequests = 0;
  auto stub = std::make_unique<CPatchStub>(0);
  MemFile patch(Stream({0x01, 1, 0, 0, 0, 1, 0, 0x5A, 0x01, 2, 0, 0, 0, 1, 0, 0x5B, 0xFF}));
  RequestsEndWhileWriting target(Ten());
  int ok;
  {
    testutil::ReportLog log;
    ok = stub->ApplyOpened(patch, target, nullptr);
    EXPECT_EQ(ReportText(Outcome::kOk), log.Only());
  }
  int handled = g_endRequests;
  for (int i = 0; i < 3; ++i) ::sigaction(signals[i], &old[i], nullptr);
  EXPECT_EQ(1, ok);
  EXPECT_EQ(0, handled) << "a request to end the run came through during the writing pass";
  Bytes want = Ten();
  want[1] = 0x5A, want[3] = 0x5B;
  EXPECT_EQ(want, target.data);
}
