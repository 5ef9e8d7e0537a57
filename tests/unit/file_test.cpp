// The POSIX file layer: open modes, sharing, positions, sizes, and the
// whole-file CRC-32.
#include "file/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "common/text.h"
#include "file/crc32.h"
#include "support/mem_file.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::U16;
using testutil::WriteFile;

namespace {

// A sparse file of `size` bytes (false when the file system refuses).
bool MakeSparse(const std::string& path, int64_t size) {
  WriteFile(path, {});
  return truncate(path.c_str(), size) == 0;
}

}  // namespace

TEST(File, OpenModes) {
  TempDir dir;
  std::string path = dir.File("f.bin");
  WriteFile(path, {1, 2, 3});
  CKOVA_File f;
  uint8_t buf[8];

  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(3u, f.Read(buf, sizeof buf));
  EXPECT_EQ(0u, f.Write(buf, 1));  // read-only

  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeWrite, zelp::kShareRead));
  EXPECT_EQ(0u, f.Read(buf, 1));  // write-only
  EXPECT_EQ(1u, f.Write("\x09", 1));
  f.Close();
  EXPECT_EQ((std::vector<uint8_t>{9, 2, 3}), ReadFile(path));

  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
  EXPECT_EQ(3u, f.Read(buf, sizeof buf));
  EXPECT_EQ(1u, f.Write("\x07", 1));
  f.Close();
  EXPECT_EQ((std::vector<uint8_t>{9, 2, 3, 7}), ReadFile(path));

  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeCreate, zelp::kShareRead));  // truncates
  f.Close();
  EXPECT_TRUE(ReadFile(path).empty());
  ASSERT_EQ(1, zelp::Open(U16(dir.File("new.bin")).c_str(), f, zelp::kModeCreate, 0));  // creates
  f.Close();

  // The existing-file modes do not create.
  for (int mode : {zelp::kModeRead, zelp::kModeWrite, zelp::kModeReadWrite})
    EXPECT_EQ(0, zelp::Open(U16(dir.File("missing")).c_str(), f, mode, zelp::kShareRead)) << mode;
  EXPECT_FALSE(f.IsOpen());
}

TEST(File, UnknownModeClosesWhatWasOpen) {
  TempDir dir;
  WriteFile(dir.File("f"), {1});
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir.File("f")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(0, zelp::Open(U16(dir.File("f")).c_str(), f, 5, zelp::kShareRead));
  EXPECT_FALSE(f.IsOpen());
}

TEST(File, ClosedFileOperations) {
  CKOVA_File f;
  uint8_t b = 0;
  int64_t v = 42;
  EXPECT_EQ(0u, f.Read(&b, 1));
  EXPECT_EQ(0u, f.Write(&b, 1));
  f.GetSize(v);
  EXPECT_EQ(42, v);  // unchanged
  EXPECT_EQ(0, f.Tell(v));
  EXPECT_FALSE(f.Seek(0));
  EXPECT_EQ(0u, f.Crc32());
  EXPECT_FALSE(f.IsOpen());
  f.Close();  // twice is fine
  EXPECT_FALSE(f.IsOpen());
}

TEST(File, SharingStandsInForWindowsSharingModes) {
  TempDir dir;
  std::u16string path = U16(dir.File("f"));
  WriteFile(dir.File("f"), {1, 2});
  CKOVA_File reader, reader2, writer;
  ASSERT_EQ(1, zelp::Open(path.c_str(), reader, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(1,
            zelp::Open(path.c_str(), reader2, zelp::kModeRead, zelp::kShareRead));  // readers share
  EXPECT_EQ(0, zelp::Open(path.c_str(), writer, zelp::kModeReadWrite,
                          zelp::kShareRead));  // readers deny writing
  reader.Close();
  reader2.Close();
  ASSERT_EQ(1, zelp::Open(path.c_str(), writer, zelp::kModeReadWrite, zelp::kShareRead));
  EXPECT_EQ(
      0, zelp::Open(path.c_str(), reader, zelp::kModeRead, zelp::kShareRead));  // a writer holds it
}

TEST(File, OnlyRegularFilesOpen) {
  TempDir dir;
  ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0600));
  CKOVA_File f;
  for (int mode : {zelp::kModeRead, zelp::kModeReadWrite}) {
    EXPECT_EQ(0, zelp::Open(U16(dir.File("fifo")).c_str(), f, mode,
                            zelp::kShareRead));  // and does not hang
    EXPECT_EQ(0, zelp::Open(U16(dir.path()).c_str(), f, mode, zelp::kShareRead));
  }
}

TEST(File, SeekRejectsNegativeAndReachesLargePositions) {
  TempDir dir;
  std::string path = dir.File("sparse");
  if (!MakeSparse(path, (int64_t{5} << 30))) GTEST_SKIP() << "no sparse files here";
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
  ASSERT_TRUE(f.Seek(10));
  EXPECT_FALSE(f.Seek(-1));
  int64_t pos = 0;
  f.Tell(pos);
  EXPECT_EQ(10, pos);  // untouched
  for (int64_t target :
       {int64_t{0x7FFFFFFF}, int64_t{0x80000000}, int64_t{0xFFFFFFFF}, int64_t{0x100000000},
        int64_t{0x100000001}, int64_t{5} << 30, (int64_t{6} << 30) + 3}) {
    ASSERT_TRUE(f.Seek(target)) << target;
    ASSERT_EQ(1, f.Tell(pos));
    EXPECT_EQ(target, pos);
  }
  // A byte written past 4 GiB lands exactly there.
  ASSERT_TRUE(f.Seek(0x100000001));
  ASSERT_EQ(1u, f.Write("\x5A", 1));
  ASSERT_TRUE(f.Seek(0x100000000));
  uint8_t two[2] = {9, 9};
  ASSERT_EQ(2u, f.Read(two, 2));
  EXPECT_EQ(0, two[0]);
  EXPECT_EQ(0x5A, two[1]);
}

TEST(File, SetSizeGrowsShrinksAndLeavesPositionAtEnd) {
  TempDir dir;
  WriteFile(dir.File("f"), {1, 2, 3, 4});
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir.File("f")).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
  int64_t size = 0, pos = 0;
  ASSERT_EQ(1, zelp::SetSize(f, 10));
  f.GetSize(size);
  f.Tell(pos);
  EXPECT_EQ(10, size);
  EXPECT_EQ(10, pos);
  ASSERT_EQ(1, zelp::SetSize(f, 2));
  f.Tell(pos);
  EXPECT_EQ(2, pos);
  EXPECT_EQ(0, zelp::SetSize(f, -1));
  f.Close();
  EXPECT_EQ((std::vector<uint8_t>{1, 2}), ReadFile(dir.File("f")));
}

TEST(File, WriteText) {
  TempDir dir;
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeCreate, zelp::kShareRead));
  EXPECT_FALSE(f.WriteText(nullptr));
  EXPECT_TRUE(f.WriteText(u""));
  EXPECT_TRUE(f.WriteText(u"补A"));
  f.Close();
  EXPECT_EQ((std::vector<uint8_t>{0x65, 0x88, 'A', 0}), ReadFile(dir.File("t")));
}

TEST(Crc32, CheckValueTableAndEmpty) {
  EXPECT_EQ(0xCBF43926u, zelp::Crc32Of("123456789", 9));
  EXPECT_EQ(0u, zelp::Crc32Of("", 0));
  EXPECT_EQ(0x00000000u, zelp::kCrcTable[0]);
  EXPECT_EQ(0x77073096u, zelp::kCrcTable[1]);
  EXPECT_EQ(0xEE0E612Cu, zelp::kCrcTable[2]);
  EXPECT_EQ(0x990951BAu, zelp::kCrcTable[3]);
  for (int i = 0; i < 256; ++i) {
    uint8_t b = static_cast<uint8_t>(i);
    EXPECT_EQ(zelp::kCrcTable[i], zelp::Crc32UpdateTable(0, &b, 1)) << i;
  }
}

TEST(Crc32, WholeFileMatchesZlibAndKeepsPosition) {
  TempDir dir;
  // 32 MiB + 1 byte: two chunks, the second of one byte.
  auto data = testutil::RandomBytes((32u << 20) + 1, 7);
  WriteFile(dir.File("big"), data);
  uint32_t expected = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir.File("big")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  for (int64_t at : {int64_t{0}, int64_t{12345}, static_cast<int64_t>(data.size())}) {
    ASSERT_TRUE(f.Seek(at));
    EXPECT_EQ(expected, f.Crc32());
    int64_t pos = -1;
    f.Tell(pos);
    EXPECT_EQ(at, pos);
  }
  WriteFile(dir.File("empty"), {});
  ASSERT_EQ(1, zelp::Open(U16(dir.File("empty")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(0u, f.Crc32());
  WriteFile(dir.File("nine"), {'1', '2', '3', '4', '5', '6', '7', '8', '9'});
  ASSERT_EQ(1, zelp::Open(U16(dir.File("nine")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(0xCBF43926u, f.Crc32());
}

// A file that claims more bytes than it can deliver.
class ShortFile : public MemFile {
 public:
  using MemFile::MemFile;
  void GetSize(int64_t& size) override { size = static_cast<int64_t>(data.size()) + 100; }
};

TEST(Crc32, ShortReadNeverHashesStaleBytes) {
  ShortFile f(testutil::RandomBytes(1000, 3));
  f.pos = 17;
  EXPECT_EQ(0u, f.Crc32());  // 0 never matches a header CRC (0 there means "no check")
  EXPECT_EQ(17, f.pos);
}

// Reads at most 1,000 bytes at a time: the CRC must still cover everything.
class TrickleFile : public MemFile {
 public:
  using MemFile::MemFile;
  uint32_t Read(void* b, uint32_t n) override { return MemFile::Read(b, n < 1000 ? n : 1000); }
};

TEST(Crc32, PartialReadsAreCompleted) {
  auto data = testutil::RandomBytes(100000, 5);
  TrickleFile f(data);
  EXPECT_EQ(static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))),
            f.Crc32());
}
