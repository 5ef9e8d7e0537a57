// What the platform file (CKOVA_File and Open) promises on every platform:
// compiled into the native unit tests and into the Win32 test program, which
// runs it under Wine. Files are made and read back with std::filesystem and
// streams, independently of the code under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "common/text.h"
#include "engine/journal.h"
#include "file/crc32.h"
#include "file/file.h"
#include "support/mem_file.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

class FileContract : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("zelp-contract-" + std::to_string(rd()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path Path(const char* name) const { return dir_ / name; }
  std::u16string U16(const char* name) const { return Path(name).u16string(); }
  void Put(const char* name, const Bytes& bytes) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
  }
  Bytes Get(const char* name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int Open(const char* name, CKOVA_File& f, int mode, int share = zelp::kShareRead) const {
    return zelp::Open(U16(name).c_str(), f, mode, share);
  }

 private:
  fs::path dir_;
};

const Bytes kTen = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST_F(FileContract, OpenModesGiveTheirAccessAndDisposition) {
  const struct {
    int mode;
    bool exists, opens, reads, writes, emptied;
  } cases[] = {
      {zelp::kModeRead, true, true, true, false, false},
      {zelp::kModeWrite, true, true, false, true, false},
      {zelp::kModeReadWrite, true, true, true, true, false},
      {zelp::kModeCreate, true, true, false, true, true},
      {zelp::kModeCreate, false, true, false, true, true},
      {zelp::kModeRead, false, false, false, false, false},
      {zelp::kModeWrite, false, false, false, false, false},
      {zelp::kModeReadWrite, false, false, false, false, false},
      {0, true, false, false, false, false},
      {5, true, false, false, false, false},
      {5, false, false, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << (c.exists ? " existing" : " new"));
    std::error_code ec;
    fs::remove(Path("f"), ec);
    if (c.exists) Put("f", kTen);
    CKOVA_File f;
    ASSERT_EQ(c.opens ? 1 : 0, Open("f", f, c.mode));
    EXPECT_EQ(c.opens, f.IsOpen());
    if (!c.opens) {
      EXPECT_EQ(c.exists, fs::exists(Path("f")));  // a refused open creates nothing
      continue;
    }
    int64_t pos = -1;
    EXPECT_EQ(1, f.Tell(pos));
    EXPECT_EQ(0, pos);
    uint8_t buf[4] = {};
    EXPECT_EQ(c.reads ? 4u : 0u, f.Read(buf, 4));
    if (c.reads) {
      EXPECT_EQ(Bytes(kTen.begin(), kTen.begin() + 4), Bytes(buf, buf + 4));
    }
    ASSERT_TRUE(f.Seek(0));
    EXPECT_EQ(c.writes ? 2u : 0u, f.Write("AB", 2));
    f.Close();
    Bytes want = c.emptied ? Bytes{} : kTen;
    if (c.writes) {
      if (want.size() < 2) want.resize(2);
      want[0] = 'A', want[1] = 'B';
    }
    EXPECT_EQ(want, Get("f"));
  }
}

TEST_F(FileContract, AnUnknownModeClosesWhatTheFileHeld) {
  Put("f", kTen);
  CKOVA_File f, g;
  ASSERT_EQ(1, Open("f", f, zelp::kModeRead));
  EXPECT_EQ(0, Open("f", f, 5));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(1, Open("f", g, zelp::kModeReadWrite, 0));  // closed for real: no sharing needed
}

TEST_F(FileContract, ASecondOpenMustFitTheFirstOnesSharing) {
  const struct {
    int firstMode, firstShare, secondMode, secondShare;
    bool opens;
  } cases[] = {
      // The program's own file, opened twice to read.
      {zelp::kModeRead, zelp::kShareRead, zelp::kModeRead, zelp::kShareRead, true},
      // The patch is open sharing only reading: it cannot become the target.
      {zelp::kModeRead, zelp::kShareRead, zelp::kModeReadWrite, zelp::kShareRead, false},
      // A target being patched cannot be opened by a second run.
      {zelp::kModeReadWrite, zelp::kShareRead, zelp::kModeRead, zelp::kShareRead, false},
      {zelp::kModeReadWrite, zelp::kShareRead, zelp::kModeReadWrite, zelp::kShareRead, false},
      {zelp::kModeReadWrite, zelp::kShareReadWrite, zelp::kModeReadWrite, zelp::kShareReadWrite,
       true},
      {zelp::kModeRead, zelp::kShareReadWrite, zelp::kModeReadWrite, zelp::kShareReadWrite, true},
      {zelp::kModeWrite, zelp::kShareWrite, zelp::kModeWrite, zelp::kShareWrite, true},
  };
  Put("f", kTen);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.firstMode << "/" << c.firstShare << " then "
                                    << c.secondMode << "/" << c.secondShare);
    CKOVA_File first, second;
    ASSERT_EQ(1, Open("f", first, c.firstMode, c.firstShare));
    EXPECT_EQ(c.opens ? 1 : 0, Open("f", second, c.secondMode, c.secondShare));
    EXPECT_EQ(c.opens, second.IsOpen());
  }
  EXPECT_EQ(kTen, Get("f"));
}

TEST_F(FileContract, AClosedFileDoesNothing) {
  CKOVA_File f;
  uint8_t b = 0;
  int64_t v = 77;
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(0u, f.Read(&b, 1));
  EXPECT_EQ(0u, f.Write(&b, 1));
  f.GetSize(v);
  EXPECT_EQ(77, v);
  EXPECT_EQ(0, f.Tell(v));
  EXPECT_EQ(77, v);
  EXPECT_FALSE(f.Seek(0));
  EXPECT_EQ(0u, f.Crc32());
  EXPECT_FALSE(f.SetEnd());
  EXPECT_FALSE(f.Reserve(10));
  EXPECT_FALSE(f.Flush());
  EXPECT_EQ(-1, f.WriteAt(0, &b, 1));
  f.Close();
  f.Close();
  EXPECT_FALSE(f.IsOpen());
}

// A file of 4 GiB + 16 bytes (sparse where the file system allows): bytes
// written past every 32-bit boundary land exactly there.
TEST_F(FileContract, PositionsPastEveryThirtyTwoBitBoundary) {
  const int64_t kSize = 0x100000010LL;
  CKOVA_File f;
  ASSERT_EQ(1, Open("big", f, zelp::kModeCreate));
  if (zelp::SetSize(f, kSize) != 1) GTEST_SKIP() << "no room for a 4 GiB file here";
  ASSERT_EQ(1, Open("big", f, zelp::kModeReadWrite));
  ASSERT_TRUE(f.Seek(0x80000000LL));
  for (int64_t p : {int64_t{-1}, INT64_MIN}) EXPECT_FALSE(f.Seek(p));
  int64_t at = -1;
  f.Tell(at);
  EXPECT_EQ(0x80000000LL, at);  // a refused seek does not move
  const int64_t positions[] = {
      0x7FFFFFFFLL, 0x80000000LL, 0xFFFFFFFFLL, 0x100000000LL, 0x100000001LL, 0x10000000FLL, 0};
  uint8_t mark = 1;
  for (int64_t p : positions) {
    ASSERT_TRUE(f.Seek(p)) << p;
    ASSERT_EQ(1, f.Tell(at));
    EXPECT_EQ(p, at);
    ASSERT_EQ(1u, f.Write(&mark, 1)) << p;
    ++mark;
  }
  ASSERT_EQ(1, f.WriteAt(0x100000002LL, "\x5A", 1));
  int64_t size = 0;
  f.GetSize(size);
  EXPECT_EQ(kSize, size);
  f.Close();
  std::ifstream in(Path("big"), std::ios::binary);
  mark = 1;
  for (int64_t p : positions) {
    in.seekg(p);
    EXPECT_EQ(mark++, in.get()) << "at " << p;
  }
  in.seekg(0x100000002LL);
  EXPECT_EQ(0x5A, in.get());
}

TEST_F(FileContract, SetSizeGrowsShrinksAndLeavesThePositionAtTheEnd) {
  Put("f", kTen);
  CKOVA_File f;
  ASSERT_EQ(1, Open("f", f, zelp::kModeReadWrite));
  const struct {
    int64_t size;
    Bytes content;
  } steps[] = {
      {4, {'0', '1', '2', '3'}}, {7, {'0', '1', '2', '3', 0, 0, 0}}, {0, {}}, {3, {0, 0, 0}}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.size);
    ASSERT_EQ(1, zelp::SetSize(f, s.size));
    int64_t at = -1, size = -1;
    f.Tell(at);
    f.GetSize(size);
    EXPECT_EQ(s.size, at);
    EXPECT_EQ(s.size, size);
    EXPECT_EQ(s.content, Get("f"));
  }
  EXPECT_EQ(0, zelp::SetSize(f, -1));
  // Open only for reading: no size can be set.
  Put("r", kTen);
  CKOVA_File r;
  ASSERT_EQ(1, Open("r", r, zelp::kModeRead));
  EXPECT_EQ(0, zelp::SetSize(r, 4));
  r.Close();
  EXPECT_EQ(kTen, Get("r"));
}

TEST_F(FileContract, ReserveOnlyEverGrows) {
  Put("f", kTen);
  CKOVA_File f;
  ASSERT_EQ(1, Open("f", f, zelp::kModeReadWrite));
  int64_t size = 0;
  EXPECT_TRUE(f.Reserve(4));
  f.GetSize(size);
  EXPECT_EQ(10, size);
  EXPECT_TRUE(f.Reserve(100000));
  f.GetSize(size);
  EXPECT_EQ(100000, size);
  EXPECT_TRUE(f.Flush());
  f.Close();
  Bytes want = kTen;
  want.resize(100000, 0);
  EXPECT_EQ(want, Get("f"));
}

TEST_F(FileContract, WriteTextWritesUtf16UnitsWithoutTheTerminator) {
  CKOVA_File f;
  ASSERT_EQ(1, Open("t", f, zelp::kModeCreate));
  EXPECT_FALSE(f.WriteText(nullptr));
  EXPECT_TRUE(f.WriteText(u""));
  EXPECT_TRUE(f.WriteText(u"补丁A"));
  f.Close();
  EXPECT_EQ((Bytes{0x65, 0x88, 0x01, 0x4E, 'A', 0}), Get("t"));
}

// WriteAt is Seek then Write in one call (the engine tells "cannot
// position" from "cannot write" by its result), except that writing
// nothing needs no position at all: a file system may not reach it.
TEST_F(FileContract, WriteAtIsSeekThenWriteAndNothingNeedsNoSeek) {
  const struct {
    int64_t position;
    uint32_t count;
  } cases[] = {
      {0, 10},
      {5, 3},
      {95, 20},
      {100, 1},
      {4096, 7},  // beyond the end: the gap reads as zeros
      {50, 0},
      {-1, 4},
      {-1, 0},
      {int64_t{1} << 40, 0},
      {int64_t{1} << 62, 0},
      {0xFFFFFFFFll, 0},
      {INT64_MAX - 3, 8},
  };
  const Bytes original = Random(100, 21), data = Random(64, 22);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position << " count " << c.count);
    Put("a", original);
    Put("b", original);
    CKOVA_File a, b;
    ASSERT_EQ(1, Open("a", a, zelp::kModeReadWrite));
    ASSERT_EQ(1, Open("b", b, zelp::kModeReadWrite));
    int64_t viaSeek = c.count == 0 && c.position >= 0 ? 0
                      : b.Seek(c.position) ? static_cast<int64_t>(b.Write(data.data(), c.count))
                                           : -1;
    EXPECT_EQ(viaSeek, a.WriteAt(c.position, data.data(), c.count));
    a.Close();
    b.Close();
    EXPECT_EQ(Get("b"), Get("a"));
  }
  // Open only for reading: positioned, but nothing written.
  Put("r", kTen);
  CKOVA_File r;
  ASSERT_EQ(1, Open("r", r, zelp::kModeRead));
  EXPECT_EQ(0, r.WriteAt(2, "ab", 2));
  r.Close();
  EXPECT_EQ(kTen, Get("r"));
}

// Bytes between positioned writes are never written back: another program
// may change them meanwhile, and its change must stand.
TEST_F(FileContract, PositionedWritesTouchOnlyTheirBytes) {
  Put("t", Bytes(1 << 16, 0x11));
  CKOVA_File f;
  ASSERT_EQ(1, Open("t", f, zelp::kModeReadWrite, zelp::kShareReadWrite));
  Bytes want(1 << 16, 0x11);
  auto write = [&](int64_t at, uint8_t v) {
    ASSERT_EQ(3, f.WriteAt(at, Bytes(3, v).data(), 3));
    std::fill(want.begin() + at, want.begin() + at + 3, v);
  };
  write(1000, 0xA1);
  write(1003, 0xA2);  // adjacent
  write(1100, 0xA3);
  {
    std::fstream other(Path("t"), std::ios::binary | std::ios::in | std::ios::out);
    other.seekp(1050);
    other.put(static_cast<char>(0x77));
    ASSERT_TRUE(other.good());
  }
  want[1050] = 0x77;
  write(1200, 0xA4);
  write(900, 0xA5);  // back before the others
  ASSERT_TRUE(f.Flush());
  f.Close();
  EXPECT_EQ(want, Get("t"));
}

// Runs of writes as a record stream makes them: mostly small and close
// together (which a platform file may gather), some far, large, overlapping,
// repeated or empty, with reads, plain writes, CRCs, resizes and closes in
// between. The file must read back, and end up, exactly as an in-memory file
// given the same calls.
TEST_F(FileContract, PositionedWritesReadBackAndLandInOrder) {
  for (uint32_t seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    const Bytes original = Random(1 << 20, seed);
    Put("t", original);
    CKOVA_File f;
    ASSERT_EQ(1, Open("t", f, zelp::kModeReadWrite));
    MemFile ref(original);
    int64_t at = 0;
    for (int op = 0; op < 1200; ++op) {
      uint32_t kind = rng() % 100;
      int64_t size = static_cast<int64_t>(ref.data.size());
      if (kind < 80) {
        uint32_t pick = rng() % 20;
        if (pick == 0) {
          at = rng() % (size + 5000);
        } else if (pick == 1) {
          at = at > 3000 ? at - rng() % 3000 : 0;  // back over earlier writes
        } else {
          at += rng() % (pick < 10 ? 200 : 20000);
        }
        Bytes data(rng() % 10 == 0 ? rng() % 9000 : rng() % 40);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        uint32_t n = static_cast<uint32_t>(data.size());
        ASSERT_EQ(ref.WriteAt(at, data.data(), n), f.WriteAt(at, data.data(), n)) << "op " << op;
      } else if (kind < 88) {
        int64_t from = rng() % (size + 10);
        Bytes got(rng() % 5000), want(got.size());
        ASSERT_EQ(ref.Seek(from), f.Seek(from));
        uint32_t n = static_cast<uint32_t>(got.size());
        ASSERT_EQ(ref.Read(want.data(), n), f.Read(got.data(), n)) << "op " << op;
        ASSERT_EQ(want, got) << "op " << op << " reading at " << from;
      } else if (kind < 92) {
        Bytes data(rng() % 100, static_cast<uint8_t>(op));
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
        f.Close();  // what was gathered reaches the file without a flush
        ASSERT_EQ(ref.data, Get("t")) << "op " << op;
        ASSERT_EQ(1, Open("t", f, zelp::kModeReadWrite));
      }
    }
    ASSERT_TRUE(f.Flush());
    f.Close();
    EXPECT_EQ(ref.data, Get("t"));
  }
}

// The CRC-32 of the whole file, whatever the position, which it keeps:
// 32 MiB + 1 byte, the check value, and 0 for an empty file.
TEST_F(FileContract, WholeFileCrcKeepsThePosition) {
  const Bytes big = Random((32u << 20) + 1, 7);
  uint32_t want = 0xFFFFFFFFu;  // bit by bit, independent of the kernels
  for (uint8_t b : big) {
    want ^= b;
    for (int k = 0; k < 8; ++k) want = (want >> 1) ^ (0xEDB88320u & (0u - (want & 1)));
  }
  want ^= 0xFFFFFFFFu;
  const struct {
    const char* name;
    Bytes content;
    uint32_t crc;
  } cases[] = {
      {"big", big, want},
      {"nine", {'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xCBF43926u},
      {"empty", {}, 0},
  };
  for (const auto& c : cases) {
    Put(c.name, c.content);
    CKOVA_File f;
    ASSERT_EQ(1, Open(c.name, f, zelp::kModeRead));
    for (int64_t at : {int64_t{0}, int64_t{5}, static_cast<int64_t>(c.content.size()) + 3}) {
      ASSERT_TRUE(f.Seek(at));
      EXPECT_EQ(c.crc, f.Crc32()) << c.name;
      int64_t pos = -1;
      f.Tell(pos);
      EXPECT_EQ(at, pos) << c.name;
    }
  }
}

// The rollback journal on the platform's files: made new beside the file
// under a name of the file's identity, published whole, and putting the
// target back after a run that stopped; another name of the same file finds
// it, and a journal set aside keeps its bytes.
TEST_F(FileContract, AJournalPutsTheTargetBack) {
  const Bytes original = Random(1 << 16, 31);
  Put("t.rom", original);
  std::u16string journalName;
  {
    CKOVA_File target;
    ASSERT_EQ(1, Open("t.rom", target, zelp::kModeReadWrite));
    zelp::FileJournalSpot spot(U16("t.rom").c_str(), target);
    zelp::Journal journal(&spot, target);
    zelp::ChangePlan plan;
    plan.oldSize = 1 << 16;
    plan.finalSize = 100000;
    plan.oldCrc = zelp::Crc32Of(original.data(), original.size());
    plan.ranges = {{10, 20}, {60000, 1 << 16}};
    zelp::Unjournalled why;
    ASSERT_EQ(zelp::Journal::Begun::kJournalled, journal.Begin(plan, why))
        << static_cast<int>(why.why) << " " << zelp::Utf16ToUtf8(why.detail);
    journalName = spot.Name();
    EXPECT_TRUE(fs::exists(fs::path(journalName)));
    EXPECT_FALSE(fs::exists(fs::path(journalName + u"-new")));
    // A run that grew the file and wrote into both ranges, then stopped.
    ASSERT_TRUE(target.Reserve(100000));
    const Bytes junk(6000, 0xEE);
    ASSERT_EQ(10, target.WriteAt(10, junk.data(), 10));
    ASSERT_EQ(6000, target.WriteAt(60000, junk.data(), 6000));
    ASSERT_TRUE(target.Flush());
  }
  fs::rename(Path("t.rom"), Path("renamed.rom"));
  CKOVA_File target;
  ASSERT_EQ(1, Open("renamed.rom", target, zelp::kModeReadWrite));
  zelp::FileJournalSpot spot(U16("renamed.rom").c_str(), target);
  EXPECT_EQ(zelp::Recovered::kRolledBack, zelp::RecoverFromJournal(spot, target).state);
  target.Close();
  EXPECT_EQ(original, Get("renamed.rom"));
  EXPECT_FALSE(fs::exists(fs::path(journalName)));
  // A damaged one found there is set aside, bytes kept, never applied.
  Put("junk", Bytes(100, 7));
  fs::rename(Path("junk"), fs::path(journalName));
  ASSERT_EQ(1, Open("renamed.rom", target, zelp::kModeReadWrite));
  zelp::Recovery r = zelp::RecoverFromJournal(spot, target);
  target.Close();
  EXPECT_EQ(zelp::Recovered::kDamaged, r.state);
  EXPECT_EQ(Bytes(100, 7), Get(fs::path(r.aside).filename().string().c_str()));
  EXPECT_EQ(original, Get("renamed.rom"));
}

}  // namespace
