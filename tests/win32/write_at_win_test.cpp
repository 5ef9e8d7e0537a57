// CKOVA_File::WriteAt on Win32 must do exactly what Seek followed by Write
// does (the engine tells "cannot position" from "cannot write" by it).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "file/file.h"
#include "win_test_util.h"

using zelp_test::ReadWholeFile;
using zelp_test::TempDir;
using zelp_test::U16;
using zelp_test::WriteWholeFile;

namespace {

struct Case {
  int64_t position;
  uint32_t count;
};

TEST(Win32WriteAt, SameResultAndBytesAsSeekThenWrite) {
  const Case cases[] = {
      {0, 10},
      {5, 3},
      {95, 20},
      {100, 1},
      {4096, 7},
      {50, 0},
      {-1, 4},
      {-1, 0},
      {int64_t{1} << 40, 0},
      {int64_t{1} << 62, 0},
      {0xFFFFFFFFll, 0},
      {0x80000000ll, 0},
  };
  TempDir dir;
  std::string original(100, '\0'), data(64, '\0');
  for (size_t i = 0; i < original.size(); ++i) original[i] = static_cast<char>(i * 7 + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(0xA0 + i);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "position " << c.position << " count " << c.count);
    ASSERT_TRUE(WriteWholeFile(dir / L"a", original));
    ASSERT_TRUE(WriteWholeFile(dir / L"b", original));
    CKOVA_File a, b;
    ASSERT_EQ(1, zelp::Open(U16(dir / L"a"), a, zelp::kModeReadWrite, zelp::kShareRead));
    ASSERT_EQ(1, zelp::Open(U16(dir / L"b"), b, zelp::kModeReadWrite, zelp::kShareRead));
    int64_t viaSeek = b.Seek(c.position) ? static_cast<int64_t>(b.Write(data.data(), c.count)) : -1;
    EXPECT_EQ(viaSeek, a.WriteAt(c.position, data.data(), c.count));
    a.Close();
    b.Close();
    std::string ga, gb;
    ASSERT_TRUE(ReadWholeFile(dir / L"a", ga));
    ASSERT_TRUE(ReadWholeFile(dir / L"b", gb));
    EXPECT_EQ(gb, ga);
  }
}

TEST(Win32WriteAt, FailsOnAFileOpenOnlyForReadingAndWhenClosed) {
  TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / L"r", std::string(10, 'x')));
  CKOVA_File f;
  ASSERT_EQ(1, zelp::Open(U16(dir / L"r"), f, zelp::kModeRead, zelp::kShareRead));
  EXPECT_EQ(0, f.WriteAt(2, "ab", 2));  // positioned, but not written
  f.Close();
  EXPECT_EQ(-1, f.WriteAt(2, "ab", 2));
  std::string got;
  ASSERT_TRUE(ReadWholeFile(dir / L"r", got));
  EXPECT_EQ(std::string(10, 'x'), got);
}

}  // namespace
