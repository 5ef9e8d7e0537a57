// Locating the patch stamp in a program file and writing a stamped image.
#include <gtest/gtest.h>

#include "author/stamp_file.h"
#include "engine/format.h"
#include "engine/stamp.h"
#include "support/mem_file.h"
#include "support/test_util.h"

using zelp::LocateStamp;
using zelp::Outcome;
using zelp::StampInfo;
using zelp::StampStatus;
using Bytes = std::vector<uint8_t>;

namespace {

// Random bytes with the marker and an 8-byte field at each of `at`.
Bytes Program(size_t size, const std::vector<size_t>& at, uint64_t value) {
  Bytes v = testutil::RandomBytes(size, static_cast<uint32_t>(size));
  for (size_t p : at) {
    std::copy(std::begin(zelp::kStampMarker), std::end(zelp::kStampMarker), v.begin() + p);
    uint8_t field[8];
    zelp::PutLe64(field, value);
    for (size_t k = 0; k < 8 && p + 16 + k < v.size(); ++k) v[p + 16 + k] = field[k];  // may be cut
  }
  return v;
}

}  // namespace

// Where the stamp is, and where the patch begins that it points to.
TEST(AuthorStamp, Locate) {
  const size_t mib = size_t{1} << 20;
  struct Case {
    std::string name;
    Bytes file;
    StampStatus status;
    int64_t markerAt, imageSize;
    bool hasPatch;
    Outcome base;  // what the patch base finder makes of the file
  } cases[] = {
      {"plain stub", Program(5000, {100}, zelp::kNoPatch), StampStatus::kOk, 100, 5000, false,
       Outcome::kNoPatchInProgram},
      {"across a read block", Program(mib + 100, {mib - 5}, zelp::kNoPatch), StampStatus::kOk,
       static_cast<int64_t>(mib - 5), static_cast<int64_t>(mib + 100), false,
       Outcome::kNoPatchInProgram},
      {"at the very end", Program(1000, {976}, zelp::kNoPatch), StampStatus::kOk, 976, 1000, false,
       Outcome::kNoPatchInProgram},
      {"field cut short", Program(1000, {980}, zelp::kNoPatch), StampStatus::kCutShort, 980, 0,
       false, Outcome::kNotAPatch},
      {"carries a patch", Program(5000, {100}, 3000), StampStatus::kOk, 100, 3000, true,
       Outcome::kOk},
      {"patch holds the marker too", Program(5000, {100, 4000}, 3000), StampStatus::kOk, 100, 3000,
       true, Outcome::kOk},
      {"two in the image", Program(5000, {100, 2000}, 3000), StampStatus::kManyMarkers, 100, 3000,
       true, Outcome::kManyStamps},
      {"two, no patch", Program(5000, {100, 4000}, zelp::kNoPatch), StampStatus::kManyMarkers, 100,
       5000, false, Outcome::kManyStamps},
      {"offset beyond the file", Program(5000, {100}, 6000), StampStatus::kOk, 100, 5000, false,
       Outcome::kStampOutside},
      {"offset before the field", Program(5000, {100}, 110), StampStatus::kOk, 100, 5000, false,
       Outcome::kStampOutside},
      {"offset right after the field", Program(5000, {100}, 124), StampStatus::kOk, 100, 124, true,
       Outcome::kOk},
      {"no marker", testutil::RandomBytes(3000, 1), StampStatus::kNoMarker, 0, 0, false,
       Outcome::kNotAPatch},
  };
  for (const auto& c : cases) {
    MemFile file(c.file);
    StampInfo info;
    ASSERT_EQ(c.status, LocateStamp(file, info)) << c.name;
    uint64_t base = 0;
    EXPECT_EQ(c.base, zelp::FindPatchBase(file, base)) << c.name;
    if (c.base == Outcome::kOk) {
      EXPECT_EQ(static_cast<uint64_t>(c.imageSize), base) << c.name;
    }
    if (c.status == StampStatus::kNoMarker) continue;
    EXPECT_EQ(c.markerAt, info.markerAt) << c.name;
    if (c.status == StampStatus::kCutShort) continue;
    EXPECT_EQ(c.imageSize, info.imageSize) << c.name;
    EXPECT_EQ(c.hasPatch, info.hasPatch) << c.name;
  }
}

TEST(AuthorStamp, WriteStampedImageSetsTheFieldAcrossBlocks) {
  const size_t mib = size_t{1} << 20;
  for (size_t at : {size_t{50}, mib - 20, mib - 3, mib}) {
    Bytes stub = Program(mib + 500, {at}, zelp::kNoPatch);
    MemFile in(stub), out;
    StampInfo info;
    ASSERT_EQ(StampStatus::kOk, LocateStamp(in, info));
    bool readFailed = true;
    ASSERT_TRUE(zelp::author::WriteStampedImage(in, info, out, readFailed));
    EXPECT_FALSE(readFailed);
    Bytes want = stub;
    zelp::PutLe64(&want[at + 16], stub.size());
    EXPECT_EQ(want, out.data) << at;
  }
}
