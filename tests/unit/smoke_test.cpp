#include <gtest/gtest.h>

#include "engine/patch_stub.h"
#include "support/mem_file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

TEST(Smoke, AppliesTwoRecords) {
  PatchBuilder p;
  p.Header(10, 0).Raw({0x01, 5, 0, 0, 0, 2, 0, 0xAA, 0xBB, 0x01, 3, 0, 0, 0, 1, 0, 0xCC}).End();
  MemFile patch(p.bytes), target(std::vector<uint8_t>(10, 0));
  testutil::ReportLog log;
  auto stub = std::make_unique<CPatchStub>(0);
  ASSERT_EQ(1, stub->ApplyOpened(patch, target, nullptr));
  EXPECT_EQ(u"补丁成功", log.Only());
  std::vector<uint8_t> want(10, 0);
  want[5] = 0xAA, want[6] = 0xBB, want[8] = 0xCC;
  EXPECT_EQ(want, target.data);
}
