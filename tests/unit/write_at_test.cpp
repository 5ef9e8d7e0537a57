// CKOVA_File::WriteAt must do exactly what Seek followed by Write does (the
// engine tells "cannot position" from "cannot write" by it), only in one call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>

#include "file/crc32.h"
#include "file/file.h"
#include "support/mem_file.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::U16;
using testutil::WriteFile;

namespace {

// The whole file in one read (much quicker than the shared helper, which
// matters for the many checks below under the sanitizers).
std::vector<uint8_t> Slurp(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    bytes.resize(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) bytes.clear();
    std::fclose(f);
  }
  return bytes;
}

struct Case {
  int64_t position;
  uint32_t count;
};

TEST(WriteAt, SameResultAndBytesAsSeekThenWrite) {
  const Case cases[] = {
      {0, 10},
      {5, 3},     // inside
      {95, 20},   // across the end
      {100, 1},   // at the end
      {4096, 7},  // beyond the end: the gap reads as zeros
      {50, 0},    // nothing to write: success with 0
      {-1, 4},    // negative: refused like Seek
      {-1, 0},
      {int64_t{1} << 40, 0},  // far, nothing written
      {int64_t{1} << 62, 0},  // beyond what most file systems can seek to
      {INT64_MAX - 3, 8},     // cannot end below 2^63 anywhere
  };
  TempDir dir;
  const auto original = testutil::RandomBytes(100, 21);
  const auto data = testutil::RandomBytes(64, 22);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position << " count " << c.count);
    WriteFile(dir.File("a"), original);
    WriteFile(dir.File("b"), original);
    CKOVA_File a, b;
    ASSERT_EQ(1, zelp::Open(U16(dir.File("a")).c_str(), a, zelp::kModeReadWrite, zelp::kShareRead));
    ASSERT_EQ(1, zelp::Open(U16(dir.File("b")).c_str(), b, zelp::kModeReadWrite, zelp::kShareRead));
    int64_t viaSeek = b.Seek(c.position) ? static_cast<int64_t>(b.Write(data.data(), c.count)) : -1;
    EXPECT_EQ(viaSeek, a.WriteAt(c.position, data.data(), c.count));
    a.Close();
    b.Close();
    EXPECT_EQ(ReadFile(dir.File("b")), ReadFile(dir.File("a")));
  }
}

// Runs of writes as a record stream makes them: mostly small and close
// together (which the platform file gathers), some far, large, overlapping,
// repeated or empty, with reads, plain writes, CRCs and resizes in between.
// The file must read back, and end up, exactly as an in-memory file given
// the same calls.
TEST(WriteAt, GatheredWritesReadBackAndLandInOrder) {
  TempDir dir;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const auto original = testutil::RandomBytes(1 << 20, seed);
    WriteFile(dir.File("t"), original);
    CKOVA_File f;
    ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
    MemFile ref(original);
    int64_t at = 0;
    for (int op = 0; op < 1500; ++op) {
      uint32_t kind = rng() % 100;
      int64_t size = static_cast<int64_t>(ref.data.size());
      if (kind < 80) {
        // Mostly a short step on from the last write; now and then anywhere.
        uint32_t pick = rng() % 20;
        if (pick == 0) {
          at = rng() % (size + 5000);
        } else if (pick == 1) {
          at = at > 3000 ? at - rng() % 3000 : 0;  // back over earlier writes
        } else {
          at += rng() % (pick < 10 ? 200 : 20000);
        }
        uint32_t count = rng() % 10 == 0 ? rng() % 9000 : rng() % 40;
        std::vector<uint8_t> data(count);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        int64_t want = ref.WriteAt(at, data.data(), count);
        ASSERT_EQ(want, f.WriteAt(at, data.data(), count)) << "op " << op << " at " << at;
      } else if (kind < 88) {
        int64_t from = rng() % (size + 10);
        std::vector<uint8_t> got(rng() % 5000), want(got.size());
        ASSERT_EQ(ref.Seek(from), f.Seek(from));
        uint32_t n = static_cast<uint32_t>(got.size());
        ASSERT_EQ(ref.Read(want.data(), n), f.Read(got.data(), n)) << "op " << op;
        ASSERT_EQ(want, got) << "op " << op << " reading at " << from;
      } else if (kind < 92) {
        std::vector<uint8_t> data(rng() % 100, static_cast<uint8_t>(op));
        int64_t from = rng() % (size + 10);
        ASSERT_EQ(ref.Seek(from), f.Seek(from));
        uint32_t n = static_cast<uint32_t>(data.size());
        ASSERT_EQ(ref.Write(data.data(), n), f.Write(data.data(), n));
      } else if (kind < 95) {
        ASSERT_EQ(ref.Crc32(), f.Crc32()) << "op " << op;
      } else if (kind < 97) {
        int64_t to = size - 1000 + rng() % 2000;
        ASSERT_EQ(zelp::SetSize(ref, to), zelp::SetSize(f, to));
      } else {
        // Closing writes back what was gathered.
        f.Close();
        ASSERT_EQ(Slurp(dir.File("t")), ref.data) << "op " << op;
        ASSERT_EQ(
            1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
      }
    }
    ASSERT_TRUE(f.Flush());
    f.Close();
    EXPECT_EQ(Slurp(dir.File("t")), ref.data);
  }
}

// Gathered bytes still in the window reach the file when it is closed
// without a flush (a failed application closes its files that way).
TEST(WriteAt, CloseWritesWhatWasGathered) {
  TempDir dir;
  auto bytes = testutil::RandomBytes(1 << 20, 31);
  WriteFile(dir.File("t"), bytes);
  {
    CKOVA_File f;
    ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
    for (int64_t at = 1000; at < 900000; at += 777) {
      uint8_t v[3] = {1, 2, 3};
      ASSERT_EQ(3, f.WriteAt(at, v, 3));
      std::copy(v, v + 3, bytes.begin() + at);
    }
  }
  EXPECT_EQ(bytes, ReadFile(dir.File("t")));
}

TEST(WriteAt, ClosedFileCannotBePositioned) {
  CKOVA_File f;
  uint8_t byte = 1;
  EXPECT_EQ(-1, f.WriteAt(0, &byte, 1));
}

}  // namespace

namespace {

// A platform file that claims more bytes than it holds, as when someone else
// cuts the file short while its CRC is being taken.
class LongerThanItIs : public CKOVA_File {
 public:
  explicit LongerThanItIs(int64_t extra) : extra_(extra) {}
  void GetSize(int64_t& size) override {
    CKOVA_File::GetSize(size);
    size += extra_;
  }

 private:
  int64_t extra_;
};

TEST(WholeFileCrc, AFileShorterThanItsSizeGivesZeroWithoutDying) {
  TempDir dir;
  const auto bytes = testutil::RandomBytes((3 << 20) + 123, 41);
  WriteFile(dir.File("t"), bytes);
  // Past the last page (a fault when touched), and within it (zeros).
  for (int64_t extra : {int64_t{5} << 20, int64_t{100}, int64_t{1}}) {
    SCOPED_TRACE(extra);
    LongerThanItIs f(extra);
    ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
    ASSERT_TRUE(f.Seek(777));
    EXPECT_EQ(0u, f.Crc32());
    int64_t pos = -1;
    f.Tell(pos);
    EXPECT_EQ(777, pos);
  }
  // The same file, truthful: its CRC; and again after a fault was caught.
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(zelp::Crc32Of(bytes.data(), bytes.size()), f.Crc32());
  LongerThanItIs again(int64_t{8} << 20);
  ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), again, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(0u, again.Crc32());
  EXPECT_EQ(zelp::Crc32Of(bytes.data(), bytes.size()), f.Crc32());
}

}  // namespace
