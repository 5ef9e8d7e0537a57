// A nearly full disk (a small tmpfs, or a btrfs image on a loop device,
// mounted for the test; skipped where mounting is impossible, e.g. not
// root): a target whose writing would need space the disk does not have is
// refused before its first byte changes: a sparse one (its holes), and an
// ordinary one on a file system that copies on write. The CRC-32 check must
// not allocate the holes itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "common/report.h"
#include "common/text.h"
#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

namespace {

class SmallDisk {
 public:
  explicit SmallDisk(const std::string& options) {
    mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  // A file system made by `mkfs` (`force` overwrites) in an image file of
  // `mib` MiB, on a loop device.
  SmallDisk(const char* mkfs, const char* force, int mib) {
    std::string image = image_.File("disk.img");
    mounted_ =
        ::truncate((WriteFile(image), image).c_str(), int64_t{mib} << 20) == 0 &&
        testutil::RunProgram(mkfs, {"-q", force, image}, {}).exitCode == 0 &&
        testutil::RunProgram("/bin/mount", {"-o", "loop", image, dir_.path()}, {}).exitCode == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // Fills the disk until `left` bytes are free.
  bool FillUpTo(int64_t left) {
    struct statvfs vfs;
    if (::statvfs(dir_.path().c_str(), &vfs) != 0) return false;
    int64_t free = static_cast<int64_t>(vfs.f_bavail) * vfs.f_frsize;
    int fd = ::open(File("filler").c_str(), O_WRONLY | O_CREAT, 0600);
    bool ok = fd >= 0 && (free <= left || ::posix_fallocate(fd, 0, free - left) == 0);
    if (fd >= 0) ::close(fd);
    return ok;
  }

 private:
  static std::string WriteFile(const std::string& path) {
    testutil::WriteFile(path, {});
    return path;
  }
  testutil::TempDir image_;  // outside the mount, removed after it
  testutil::TempDir dir_;
  bool mounted_ = false;
};

void SparseTargetOn(SmallDisk& disk) {
  const int64_t size = int64_t{12} << 20;
  const std::string target = disk.File("target.rom");
  testutil::WriteFile(target, testutil::RandomBytes(4096, 1));
  ASSERT_EQ(0, ::truncate(target.c_str(), size));
  std::vector<uint8_t> original = testutil::ReadFile(target);
  const uint32_t crc = zelp::Crc32Of(original.data(), original.size());
  ASSERT_TRUE(disk.FillUpTo(1 << 20));

  // 3 MiB of records in the holes, more than the disk has left.
  PatchBuilder p;
  p.Header(size, crc);
  const auto data = testutil::RandomBytes(60000, 2);
  for (int64_t at = 1 << 20; at < (4 << 20); at += 60000) p.Abs(static_cast<uint64_t>(at), data);
  p.End();
  testutil::TempDir elsewhere;
  testutil::WriteFile(elsewhere.File("patch"), p.bytes);

  struct stat before, after;
  ASSERT_EQ(0, ::stat(target.c_str(), &before));
  auto stub = std::make_unique<CPatchStub>(0);
  testutil::ReportLog log;
  EXPECT_EQ(0, stub->ApplyPatchFiles(testutil::U16(elsewhere.File("patch")).c_str(),
                                     testutil::U16(target).c_str(), nullptr));
  EXPECT_EQ(zelp::ReportText(zelp::Outcome::kResize), log.Only());
  ASSERT_EQ(0, ::stat(target.c_str(), &after));
  EXPECT_EQ(size, after.st_size);
  EXPECT_TRUE(original == testutil::ReadFile(target)) << "the target changed";
}

TEST(FullDisk, ASparseTargetIsRefusedBeforeItsFirstByteChanges) {
  SmallDisk tmpfs("size=8m");
  SmallDisk ext4("/usr/sbin/mkfs.ext4", "-F", 16);
  if (!tmpfs.mounted() && !ext4.mounted()) GTEST_SKIP() << "cannot mount a disk here (not root?)";
  for (SmallDisk* disk : {&tmpfs, &ext4}) {
    if (!disk->mounted()) continue;
    SCOPED_TRACE(disk == &tmpfs ? "tmpfs" : "ext4");
    SparseTargetOn(*disk);
  }
}

TEST(FullDisk, AnOrdinaryTargetOnBtrfsIsRefusedBeforeItsFirstByteChanges) {
  SmallDisk disk("/usr/sbin/mkfs.btrfs", "-f", 160);
  if (!disk.mounted()) GTEST_SKIP() << "cannot make and mount a btrfs image here (not root?)";
  const std::string target = disk.File("target.rom");
  const auto original = testutil::RandomBytes(24 << 20, 3);
  testutil::WriteFile(target, original);
  ::sync();
  ASSERT_TRUE(disk.FillUpTo(2 << 20));
  ::sync();
  // 12 MiB of records inside the file: each block written needs a new one.
  PatchBuilder p;
  p.Header(static_cast<int64_t>(original.size()), 0);
  const auto data = testutil::RandomBytes(60000, 4);
  for (int64_t at = 0; at < (12 << 20); at += 60000) p.Abs(static_cast<uint64_t>(at), data);
  p.End();
  testutil::TempDir elsewhere;
  testutil::WriteFile(elsewhere.File("patch"), p.bytes);
  auto stub = std::make_unique<CPatchStub>(0);
  testutil::ReportLog log;
  EXPECT_EQ(0, stub->ApplyPatchFiles(testutil::U16(elsewhere.File("patch")).c_str(),
                                     testutil::U16(target).c_str(), nullptr));
  EXPECT_EQ(zelp::ReportText(zelp::Outcome::kResize), log.Only());
  EXPECT_TRUE(original == testutil::ReadFile(target)) << "the target changed";
}

}  // namespace

// The journal's own space never costs a patch that fits without it: on a
// nearly full tmpfs (growth) and btrfs (growth and copy on write), a patch
// whose journal does not fit beside what it needs goes on without one.
TEST(FullDisk, APatchThatFitsWithoutItsJournalIsNotRefusedForIt) {
  SmallDisk tmpfs("size=16m");
  SmallDisk btrfs("/usr/sbin/mkfs.btrfs", "-f", 160);
  if (!tmpfs.mounted() && !btrfs.mounted()) GTEST_SKIP() << "cannot mount a disk here (not root?)";
  for (SmallDisk* disk : {&tmpfs, &btrfs}) {
    if (!disk->mounted()) continue;
    SCOPED_TRACE(disk == &tmpfs ? "tmpfs" : "btrfs");
    const std::string target = disk->File("target.rom");
    const auto original = testutil::RandomBytes(4 << 20, 5);
    testutil::WriteFile(target, original);
    ::sync();
    // 4 MiB rewritten (a 4 MiB journal), 6 MiB of growth.
    PatchBuilder p;
    p.Header(int64_t{10} << 20, zelp::Crc32Of(original.data(), original.size()));
    const auto data = testutil::RandomBytes(60000, 6);
    for (int64_t at = 0; at < (4 << 20) - 60000; at += 60000)
      p.Abs(static_cast<uint64_t>(at), data);
    p.End();
    ASSERT_TRUE(disk->FillUpTo(disk == &tmpfs ? (8 << 20) : (13 << 20)));
    ::sync();
    testutil::TempDir elsewhere;
    testutil::WriteFile(elsewhere.File("patch"), p.bytes);
    auto stub = std::make_unique<CPatchStub>(0);
    testutil::ReportLog log;
    std::u16string notices;
    zelp::SayRemarks();
    {
      zelp::NoticeRoute route(
          [](const char16_t* text, void* to) { *static_cast<std::u16string*>(to) += text; },
          &notices);
      EXPECT_EQ(1, stub->ApplyPatchFiles(testutil::U16(elsewhere.File("patch")).c_str(),
                                         testutil::U16(target).c_str(), nullptr));
    }
    EXPECT_EQ(zelp::ReportText(zelp::Outcome::kOk), log.Only());
    EXPECT_NE(std::u16string::npos, notices.find(u"no journal was kept"))
        << zelp::Utf16ToUtf8(notices);
    EXPECT_EQ(int64_t{10} << 20, static_cast<int64_t>(testutil::ReadFile(target).size()));
  }
}
