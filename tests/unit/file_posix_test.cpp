// The POSIX file layer beyond the shared contract (tests/contract): locks
// where the file system has none, files that are no regular files, CRCs of
// files that deliver fewer bytes than they claim, and the ways around a
// mapping or a position that cannot be had.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "file/crc32.h"
#include "file/file.h"
#include "file/whole_file.h"
#include "support/mem_file.h"
#include "support/test_util.h"

using testutil::TempDir;
using testutil::U16;
using testutil::WriteFile;

namespace {

// flock() and sigaction() are wrapped at link time (tests/CMakeLists.txt):
// with an errno set here, every flock() fails with it, as on a file system
// without locks, and so does every sigaction() for SIGBUS.
int g_flockErrno = 0;
int g_busErrno = 0;

}  // namespace

extern "C" int __real_flock(int fd, int operation);
extern "C" int __wrap_flock(int fd, int operation) {
  if (!g_flockErrno) return __real_flock(fd, operation);
  errno = g_flockErrno;
  return -1;
}

extern "C" int __real_sigaction(int sig, const struct sigaction* act, struct sigaction* old);
extern "C" int __wrap_sigaction(int sig, const struct sigaction* act, struct sigaction* old) {
  if (sig != SIGBUS || !g_busErrno) return __real_sigaction(sig, act, old);
  errno = g_busErrno;
  return -1;
}

namespace {

TEST(PosixFile, WithoutLocksOnTheFileSystemFilesStillOpen) {
  TempDir dir;
  WriteFile(dir.File("f"), {1, 2});
  const struct {
    int error;
    int opens;
  } cases[] = {{ENOLCK, 1}, {EOPNOTSUPP, 1}, {ENOSYS, 1}, {EWOULDBLOCK, 0}, {EIO, 0}};
  for (const auto& c : cases) {
    g_flockErrno = c.error;
    CKOVA_File f;
    int got = zelp::Open(U16(dir.File("f")).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead);
    g_flockErrno = 0;
    EXPECT_EQ(c.opens, got) << std::strerror(c.error);
  }
}

TEST(PosixFile, OnlyRegularFilesOpen) {
  TempDir dir;
  ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0600));
  CKOVA_File f;
  for (int mode : {zelp::kModeRead, zelp::kModeReadWrite}) {
    // A FIFO must not even block the open.
    EXPECT_EQ(0, zelp::Open(U16(dir.File("fifo")).c_str(), f, mode, zelp::kShareRead));
    EXPECT_EQ(0, zelp::Open(U16(dir.path()).c_str(), f, mode, zelp::kShareRead));
  }
}

// Files that deliver their bytes in pieces, or fewer than their size says.
class Trickle : public MemFile {
 public:
  Trickle(std::vector<uint8_t> bytes, int64_t claimed)
      : MemFile(std::move(bytes)), claimed_(claimed) {}
  uint32_t Read(void* b, uint32_t n) override { return MemFile::Read(b, n < 1000 ? n : 1000); }
  void GetSize(int64_t& size) override { size = static_cast<int64_t>(data.size()) + claimed_; }

 private:
  int64_t claimed_;
};

TEST(PosixFile, CrcOfAnyFileCompletesShortReadsAndNeverHashesPartOfIt) {
  const auto data = testutil::RandomBytes(100000, 5);
  for (int64_t extra : {int64_t{0}, int64_t{1}, int64_t{100}}) {
    Trickle f(data, extra);
    f.pos = 17;
    // 0 never matches a header CRC (0 there means "no check").
    EXPECT_EQ(extra ? 0u : zelp::Crc32Of(data.data(), data.size()), f.Crc32()) << extra;
    uint32_t crc = 0;
    EXPECT_EQ(extra == 0, f.WholeCrc32(crc)) << extra;
    EXPECT_EQ(17, f.pos);
  }
}

// A platform file that claims more bytes than it holds, as when someone else
// cuts the file short while its CRC is being taken through a mapping.
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

TEST(PosixFile, AFileShorterThanItsSizeGivesCrcZeroWithoutDying) {
  TempDir dir;
  const auto bytes = testutil::RandomBytes((3 << 20) + 123, 41);
  WriteFile(dir.File("t"), bytes);
  const uint32_t crc = zelp::Crc32Of(bytes.data(), bytes.size());
  // Past the last page (a fault when touched), within it (zeros), and the
  // truthful file again after a fault was caught.
  for (int64_t extra : {int64_t{5} << 20, int64_t{100}, int64_t{1}, int64_t{0}}) {
    SCOPED_TRACE(extra);
    LongerThanItIs f(extra);
    ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeRead, zelp::kShareRead));
    ASSERT_TRUE(f.Seek(777));
    EXPECT_EQ(extra ? 0u : crc, f.Crc32());
    uint32_t got = 0;
    EXPECT_EQ(extra == 0, f.WholeCrc32(got));  // a read fault, not a CRC
    int64_t pos = -1;
    f.Tell(pos);
    EXPECT_EQ(777, pos);
  }
}

// Taking the CRC of a sparse file must not allocate its holes: on a nearly
// full tmpfs that filled the disk and turned into a wrong-file verdict.
TEST(PosixFile, TheCrcOfASparseFileAllocatesNothing) {
  struct statfs fs;
  if (::statfs("/dev/shm", &fs) != 0 || fs.f_type != TMPFS_MAGIC)
    GTEST_SKIP() << "no tmpfs at /dev/shm";
  const std::string path = "/dev/shm/zelp-sparse-" + std::to_string(::getpid());
  const int64_t size = int64_t{16} << 20;
  WriteFile(path, {1, 2, 3});
  ASSERT_EQ(0, ::truncate(path.c_str(), size));
  struct stat before, after;
  ASSERT_EQ(0, ::stat(path.c_str(), &before));
  std::vector<uint8_t> whole(static_cast<size_t>(size), 0);
  whole[0] = 1, whole[1] = 2, whole[2] = 3;
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  uint32_t crc = 0;
  EXPECT_TRUE(f.WholeCrc32(crc));
  EXPECT_EQ(zelp::Crc32Of(whole.data(), whole.size()), crc);
  f.Close();
  ASSERT_EQ(0, ::stat(path.c_str(), &after));
  ::unlink(path.c_str());
  EXPECT_EQ(before.st_blocks, after.st_blocks);
}

// The holes in the ranges to be written are allocated before the first write
// (a full disk shows there, with nothing changed), size and bytes untouched.
TEST(PosixFile, SecuringWritesAllocatesTheirHolesOnly) {
  TempDir dir;
  const std::string path = dir.File("sparse");
  const int64_t size = int64_t{64} << 20;
  WriteFile(path, {9, 8, 7});
  ASSERT_EQ(0, ::truncate(path.c_str(), size));
  struct stat before, after;
  ASSERT_EQ(0, ::stat(path.c_str(), &before));
  if (before.st_blocks * 512 >= size) GTEST_SKIP() << "no sparse files here";
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
  const int64_t mib = 1 << 20;
  ASSERT_TRUE(f.SecureWrites({{mib, 2 * mib}, {10 * mib, 10 * mib + 5}}));
  f.Close();
  ASSERT_EQ(0, ::stat(path.c_str(), &after));
  EXPECT_EQ(size, after.st_size);
  EXPECT_GE((after.st_blocks - before.st_blocks) * 512, mib + 5);
  EXPECT_LT((after.st_blocks - before.st_blocks) * 512, 2 * mib);  // the gap stays a hole
  const auto bytes = testutil::ReadFile(path);
  EXPECT_TRUE(bytes[0] == 9 && bytes[1] == 8 && bytes[2] == 7 &&
              std::all_of(bytes.begin() + 3, bytes.end(), [](uint8_t b) { return b == 0; }));
}

// Without a SIGBUS handler nothing may be touched through a mapping (a page
// that cannot be had would end the process): the CRC is read and the writes
// go out as positioned writes instead, with the same results.
TEST(PosixFile, WithoutABusHandlerFilesAreReadAndWrittenWithoutMappings) {
  TempDir dir;
  auto bytes = testutil::RandomBytes((1 << 20) + 77, 9);
  WriteFile(dir.File("t"), bytes);
  const uint8_t patch[] = {1, 2, 3, 4, 5};
  const int64_t places[] = {0, 4096 - 2, 1 << 20, (1 << 20) + 72};
  g_busErrno = EINVAL;
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), f, zelp::kModeReadWrite, zelp::kShareRead));
  uint32_t crc = 0;
  EXPECT_TRUE(f.WholeCrc32(crc));
  EXPECT_EQ(zelp::Crc32Of(bytes.data(), bytes.size()), crc);
  for (int64_t at : places) {
    EXPECT_EQ(5, f.WriteAt(at, patch, 5)) << at;
    std::copy(patch, patch + 5, bytes.begin() + at);
  }
  EXPECT_TRUE(f.Flush());
  f.Close();
  g_busErrno = 0;
  EXPECT_EQ(bytes, testutil::ReadFile(dir.File("t")));
}

// A whole file mapped for reading that someone cuts short or writes over
// while it is read: its bytes read as zeros past the new end instead of
// ending the process, and Changed() says so.
TEST(PosixFile, AWholeFileChangedWhileMappedIsToldNotFatal) {
  TempDir dir;
  const auto bytes = testutil::RandomBytes((1 << 20) + 123, 43);
  const struct {
    const char* what;
    int64_t cutTo;  // -1: written over in place instead; -2: left alone
    bool changed;
  } cases[] = {{"cut short by pages", 8192 + 5, true},
               {"cut short inside its last page", (1 << 20) + 100, true},
               {"written over in place", -1, true},
               {"left alone", -2, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir.File("t"), bytes);
    zelp::WholeFile f;
    bool tooLarge = false;
    ASSERT_TRUE(f.Load(U16(dir.File("t")), INT64_MAX, tooLarge));
    ::usleep(10000);  // a later modification time than the write's
    if (c.cutTo >= 0) {
      ASSERT_EQ(0, ::truncate(dir.File("t").c_str(), c.cutTo));
    } else if (c.cutTo == -1) {
      WriteFile(dir.File("t"), std::vector<uint8_t>(bytes.size(), 1));
    }
    std::vector<uint8_t> seen(f.data(), f.data() + f.size());  // every byte touched
    EXPECT_EQ(c.changed, f.Changed());
    const size_t kept = c.cutTo >= 0 ? static_cast<size_t>(c.cutTo) : c.changed ? 0 : bytes.size();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + kept, seen.begin()));
    if (c.cutTo >= 0) {
      EXPECT_TRUE(std::all_of(seen.begin() + kept, seen.end(), [](uint8_t b) { return !b; }));
    }
  }
}

// A descriptor without a position (a pipe): Tell says so and leaves the
// value alone.
TEST(PosixFile, APositionThatCannotBeHadIsNoPosition) {
  int ends[2];
  ASSERT_EQ(0, ::pipe(ends));
  ::close(ends[1]);
  CKOVA_File f;
  f.handle = ends[0];
  int64_t position = 42;
  EXPECT_EQ(0, f.Tell(position));
  EXPECT_EQ(42, position);
}

}  // namespace
