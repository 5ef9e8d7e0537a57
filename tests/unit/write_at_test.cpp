// CKOVA_File::WriteAt must do exactly what Seek followed by Write does (the
// engine tells "cannot position" from "cannot write" by it), only in one call.
#include <gtest/gtest.h>

#include <cstdint>

#include "file/file.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::TempDir;
using testutil::U16;
using testutil::WriteFile;

namespace {

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
    ASSERT_EQ(1, Open(U16(dir.File("a")).c_str(), a, kModeReadWrite, kShareRead));
    ASSERT_EQ(1, Open(U16(dir.File("b")).c_str(), b, kModeReadWrite, kShareRead));
    int64_t viaSeek = b.Seek(c.position) ? static_cast<int64_t>(b.Write(data.data(), c.count)) : -1;
    EXPECT_EQ(viaSeek, a.WriteAt(c.position, data.data(), c.count));
    a.Close();
    b.Close();
    EXPECT_EQ(ReadFile(dir.File("b")), ReadFile(dir.File("a")));
  }
}

TEST(WriteAt, ClosedFileCannotBePositioned) {
  CKOVA_File f;
  uint8_t byte = 1;
  EXPECT_EQ(-1, f.WriteAt(0, &byte, 1));
}

}  // namespace
