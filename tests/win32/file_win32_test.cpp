// CKOVA_File over Win32 handles beyond the shared file contract
// (tests/contract): Windows' own sharing rules, names, devices and read-only
// files, on real files under Wine.
#include <gtest/gtest.h>

#include <string>

#include "file/file.h"
#include "win_test_util.h"

using namespace zelp_test;

namespace {

// Sharing as only Windows has it (the POSIX locks that stand in for it are
// coarser); the cases both platforms share are in the file contract.
TEST(Win32File, ASecondOpenMustFitTheFirstOnesSharing) {
  const struct {
    int firstMode, firstShare, secondMode, secondShare;
  } refused[] = {
      {zelp::kModeWrite, zelp::kShareWrite, zelp::kModeRead, zelp::kShareWrite},
      {zelp::kModeRead, 0, zelp::kModeRead, zelp::kShareReadWrite},
      {zelp::kModeRead, 7, zelp::kModeRead, zelp::kShareReadWrite},
      {zelp::kModeRead, zelp::kShareRead, zelp::kModeCreate, zelp::kShareReadWrite},
  };
  TempDir dir;
  std::wstring path = dir / L"shared.bin";
  ASSERT_TRUE(WriteWholeFile(path, "data"));
  for (const auto& c : refused) {
    CKOVA_File first, second;
    ASSERT_EQ(zelp::Open(U16(path), first, c.firstMode, c.firstShare), 1);
    EXPECT_EQ(zelp::Open(U16(path), second, c.secondMode, c.secondShare), 0)
        << c.firstMode << "/" << c.firstShare << " then " << c.secondMode << "/" << c.secondShare;
  }
  std::string content;
  ASSERT_TRUE(ReadWholeFile(path, content));
  EXPECT_EQ(content, "data");
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
