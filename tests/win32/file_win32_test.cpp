// CKOVA_File over Win32 handles: open modes and sharing, 64-bit positions,
// resizing and the inherited operations, on real files under Wine.
#include <gtest/gtest.h>

#include <string>

#include "file/file.h"
#include "win_test_util.h"

using namespace zelp_test;

namespace {

struct ModeCase {
  int mode;
  bool fileExists;
  bool opens;
  bool canRead;
  bool canWrite;
  bool emptiedOnOpen;
};

class OpenModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(OpenModes, AccessAndDispositionFollowTheMode) {
  const ModeCase c = GetParam();
  TempDir dir;
  std::wstring path = dir / L"f.bin";
  if (c.fileExists) {
    ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  }

  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, c.mode, zelp::kShareRead), c.opens ? 1 : 0);
  EXPECT_EQ(f.IsOpen(), c.opens);
  if (!c.opens) {
    // A refused open never creates the file either.
    EXPECT_EQ(Exists(path), c.fileExists);
    return;
  }
  int64_t pos = -1;
  EXPECT_EQ(f.Tell(pos), 1);
  EXPECT_EQ(pos, 0);
  char buf[4] = {};
  EXPECT_EQ(f.Read(buf, 4), c.canRead ? 4u : 0u);
  if (c.canRead) {
    EXPECT_EQ(std::string(buf, 4), "0123");
  }
  ASSERT_TRUE(f.Seek(0));
  EXPECT_EQ(f.Write("AB", 2), c.canWrite ? 2u : 0u);
  f.Close();

  std::string content;
  ASSERT_TRUE(ReadWholeFile(path, content));
  std::string expected = c.emptiedOnOpen ? "" : "0123456789";
  if (c.canWrite) expected.replace(0, 2, "AB");
  EXPECT_EQ(content, expected);
}

INSTANTIATE_TEST_SUITE_P(Win32, OpenModes,
                         ::testing::Values(
                             // mode, exists, opens, read, write, emptied
                             ModeCase{zelp::kModeRead, true, true, true, false, false},
                             ModeCase{zelp::kModeWrite, true, true, false, true, false},
                             ModeCase{zelp::kModeReadWrite, true, true, true, true, false},
                             ModeCase{zelp::kModeCreate, true, true, false, true, true},
                             ModeCase{zelp::kModeCreate, false, true, false, true, true},
                             ModeCase{zelp::kModeRead, false, false, false, false, false},
                             ModeCase{zelp::kModeWrite, false, false, false, false, false},
                             ModeCase{zelp::kModeReadWrite, false, false, false, false, false},
                             ModeCase{0, true, false, false, false, false},
                             ModeCase{5, true, false, false, false, false},
                             ModeCase{5, false, false, false, false, false}));

TEST(Win32File, AnUnknownModeClosesWhatTheFileHeld) {
  TempDir dir;
  std::wstring path = dir / L"f.bin";
  ASSERT_TRUE(WriteWholeFile(path, "abc"));
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeRead, zelp::kShareRead), 1);
  EXPECT_EQ(zelp::Open(U16(path), f, 5, zelp::kShareRead), 0);
  EXPECT_FALSE(f.IsOpen());
  // Closed for real: the file can now be opened without any sharing.
  CKOVA_File g;
  EXPECT_EQ(zelp::Open(U16(path), g, zelp::kModeReadWrite, 0), 1);
}

struct ShareCase {
  int firstMode, firstShare;
  int secondMode, secondShare;
  bool secondOpens;
};

class Sharing : public ::testing::TestWithParam<ShareCase> {};

TEST_P(Sharing, ASecondOpenMustFitTheFirstOnesSharing) {
  const ShareCase c = GetParam();
  TempDir dir;
  std::wstring path = dir / L"shared.bin";
  ASSERT_TRUE(WriteWholeFile(path, "data"));
  CKOVA_File first, second;
  ASSERT_EQ(zelp::Open(U16(path), first, c.firstMode, c.firstShare), 1);
  EXPECT_EQ(zelp::Open(U16(path), second, c.secondMode, c.secondShare), c.secondOpens ? 1 : 0);
  EXPECT_EQ(second.IsOpen(), c.secondOpens);
}

INSTANTIATE_TEST_SUITE_P(
    Win32, Sharing,
    ::testing::Values(
        // How the program opens its own file, twice: both only read.
        ShareCase{zelp::kModeRead, zelp::kShareRead, zelp::kModeRead, zelp::kShareRead, true},
        // The patch is open sharing only reading: it cannot become a target.
        ShareCase{zelp::kModeRead, zelp::kShareRead, zelp::kModeReadWrite, zelp::kShareRead, false},
        // A target open for writing keeps others from reading it with
        // share kind 3 (they would not let it write).
        ShareCase{zelp::kModeReadWrite, zelp::kShareRead, zelp::kModeRead, zelp::kShareRead, false},
        ShareCase{zelp::kModeReadWrite, zelp::kShareReadWrite, zelp::kModeReadWrite,
                  zelp::kShareReadWrite, true},
        ShareCase{zelp::kModeRead, zelp::kShareReadWrite, zelp::kModeReadWrite,
                  zelp::kShareReadWrite, true},
        ShareCase{zelp::kModeWrite, zelp::kShareWrite, zelp::kModeWrite, zelp::kShareWrite, true},
        ShareCase{zelp::kModeWrite, zelp::kShareWrite, zelp::kModeRead, zelp::kShareWrite, false},
        ShareCase{zelp::kModeRead, 0, zelp::kModeRead, zelp::kShareReadWrite, false},
        ShareCase{zelp::kModeRead, 7, zelp::kModeRead, zelp::kShareReadWrite, false},
        ShareCase{zelp::kModeRead, zelp::kShareRead, zelp::kModeCreate, zelp::kShareReadWrite,
                  false}));

// A file of 4 GiB + 16 bytes without its data written (sparse where the
// file system allows): every position below is inside it.
class BigFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir / L"big.bin";
    ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeCreate, zelp::kShareRead), 1);
    ASSERT_EQ(zelp::SetSize(f, kSize), 1);
    f.Close();
    ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeReadWrite, zelp::kShareRead), 1);
  }
  static constexpr int64_t kSize = 0x100000010LL;
  TempDir dir;
  std::wstring path;
  CKOVA_File f;
};

TEST_F(BigFile, SeekReachesPositionsPastEveryThirtyTwoBitBoundary) {
  const int64_t positions[] = {
      0x7FFFFFFELL, 0x7FFFFFFFLL,  0x80000000LL,  0x80000001LL,  0xFFFFFFFELL,
      0xFFFFFFFFLL, 0x100000000LL, 0x100000001LL, 0x10000000FLL, 0};
  unsigned char mark = 1;
  for (int64_t p : positions) {
    SCOPED_TRACE(p);
    ASSERT_TRUE(f.Seek(p));
    int64_t at = -1;
    ASSERT_EQ(f.Tell(at), 1);
    EXPECT_EQ(at, p);
    ASSERT_EQ(f.Write(&mark, 1), 1u);
    ++mark;
  }
  // Each byte landed exactly where it was meant to: read them back through
  // the platform directly, not through Seek.
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  mark = 1;
  for (int64_t p : positions) {
    LARGE_INTEGER li;
    li.QuadPart = p;
    ASSERT_TRUE(SetFilePointerEx(h, li, nullptr, FILE_BEGIN));
    unsigned char got = 0;
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(h, &got, 1, &n, nullptr));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(got, mark) << "at " << p;
    ++mark;
  }
  CloseHandle(h);
  int64_t size = 0;
  f.GetSize(size);
  EXPECT_EQ(size, kSize);
}

TEST_F(BigFile, NegativePositionsAreRefusedWithoutMoving) {
  ASSERT_TRUE(f.Seek(0x80000000LL));
  for (int64_t p : {int64_t{-1}, INT64_MIN, int64_t{-0x80000000LL}}) {
    EXPECT_FALSE(f.Seek(p));
    int64_t at = 0;
    f.Tell(at);
    EXPECT_EQ(at, 0x80000000LL);
  }
}

TEST_F(BigFile, CrcKeepsThePosition) {
  // Only the position matters here; a 4 GiB CRC would be slow, so shrink.
  ASSERT_EQ(zelp::SetSize(f, 9), 1);
  ASSERT_TRUE(f.Seek(0));
  ASSERT_EQ(f.Write("123456789", 9), 9u);
  for (int64_t p : {int64_t{0}, int64_t{4}, int64_t{9}, int64_t{0x100000000LL}}) {
    ASSERT_TRUE(f.Seek(p));
    EXPECT_EQ(f.Crc32(), 0xCBF43926u);
    int64_t at = -1;
    f.Tell(at);
    EXPECT_EQ(at, p);
  }
}

TEST(Win32File, SetSizeGrowsAndShrinksAndLeavesThePositionAtTheEnd) {
  TempDir dir;
  std::wstring path = dir / L"s.bin";
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeReadWrite, zelp::kShareRead), 1);
  struct {
    int64_t size;
    std::string content;
  } steps[] = {{4, "0123"}, {7, std::string("0123\0\0\0", 7)}, {0, ""}, {3, std::string(3, '\0')}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.size);
    ASSERT_EQ(zelp::SetSize(f, s.size), 1);
    int64_t at = -1, size = -1;
    f.Tell(at);
    f.GetSize(size);
    EXPECT_EQ(at, s.size);
    EXPECT_EQ(size, s.size);
    std::string content;
    ASSERT_TRUE(ReadWholeFile(path, content));
    EXPECT_EQ(content, s.content);
  }
  EXPECT_EQ(zelp::SetSize(f, -1), 0);
  int64_t size = -1;
  f.GetSize(size);
  EXPECT_EQ(size, 3);
}

TEST(Win32File, SetSizeFailsOnAFileOpenOnlyForReading) {
  TempDir dir;
  std::wstring path = dir / L"r.bin";
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeRead, zelp::kShareRead), 1);
  EXPECT_EQ(zelp::SetSize(f, 4), 0);
  f.Close();
  EXPECT_EQ(SizeOf(path), 10);
}

TEST(Win32File, ReserveOnlyEverGrows) {
  TempDir dir;
  std::wstring path = dir / L"r.bin";
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeReadWrite, zelp::kShareRead), 1);
  EXPECT_TRUE(f.Reserve(4));
  int64_t size = 0;
  f.GetSize(size);
  EXPECT_EQ(size, 10);
  EXPECT_TRUE(f.Reserve(100000));
  f.GetSize(size);
  EXPECT_EQ(size, 100000);
  EXPECT_TRUE(f.Flush());
  f.Close();
  std::string content;
  ASSERT_TRUE(ReadWholeFile(path, content));
  EXPECT_EQ(content.substr(0, 10), "0123456789");
  EXPECT_EQ(content.size(), 100000u);
}

TEST(Win32File, WriteTextWritesUtf16UnitsWithoutTheTerminator) {
  TempDir dir;
  std::wstring path = dir / L"t.bin";
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeCreate, zelp::kShareRead), 1);
  EXPECT_FALSE(f.WriteText(nullptr));
  EXPECT_TRUE(f.WriteText(u""));
  EXPECT_TRUE(f.WriteText(u"补丁A"));
  f.Close();
  std::string content;
  ASSERT_TRUE(ReadWholeFile(path, content));
  EXPECT_EQ(content, std::string("\x65\x88\x01\x4E"
                                 "A\0",
                                 6));
}

TEST(Win32File, AClosedFileDoesNothing) {
  CKOVA_File f;
  char buf[4];
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.Read(buf, 4), 0u);
  EXPECT_EQ(f.Write("abcd", 4), 0u);
  int64_t v = 77;
  f.GetSize(v);
  EXPECT_EQ(v, 77);
  EXPECT_EQ(f.Tell(v), 0);
  EXPECT_EQ(v, 77);
  EXPECT_FALSE(f.Seek(0));
  EXPECT_EQ(f.Crc32(), 0u);
  EXPECT_FALSE(f.SetEnd());
  EXPECT_FALSE(f.Flush());
  f.Close();
  f.Close();
  EXPECT_FALSE(f.IsOpen());
}

TEST(Win32File, PathsWithChineseAndSpacesOpen) {
  TempDir dir;
  std::wstring sub = dir / L"我的 游戏";
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  std::wstring path = sub + L"\\存档 1.rom";
  ASSERT_TRUE(WriteWholeFile(path, "abc"));
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(path), f, zelp::kModeReadWrite, zelp::kShareRead), 1);
  char buf[3];
  EXPECT_EQ(f.Read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "abc");
}

// Devices open like files but have no size and take or give any bytes: a
// target that is one must be refused before anything is read or written.
TEST(Win32File, DevicesAreRefusedInEveryMode) {
  for (const char16_t* device : {u"NUL", u"\\\\.\\NUL", u"CONIN$"}) {
    for (int mode : {zelp::kModeRead, zelp::kModeWrite, zelp::kModeReadWrite, zelp::kModeCreate}) {
      CKOVA_File f;
      EXPECT_EQ(zelp::Open(device, f, mode, zelp::kShareReadWrite), 0) << "mode " << mode;
      EXPECT_FALSE(f.IsOpen());
    }
  }
}

TEST(Win32File, ReadOnlyFilesRefuseWriting) {
  TempDir dir;
  std::wstring path = dir / L"ro.bin";
  ASSERT_TRUE(WriteWholeFile(path, "abc"));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  // Wine keeps the attribute as missing write permission, which a process
  // running as root passes through.
  HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    GTEST_SKIP() << "this platform lets writers open read-only files (Wine as root)";
  }
  CKOVA_File f;
  EXPECT_EQ(zelp::Open(U16(path), f, zelp::kModeReadWrite, zelp::kShareRead), 0);
  EXPECT_EQ(zelp::Open(U16(path), f, zelp::kModeRead, zelp::kShareRead), 1);
}

}  // namespace
