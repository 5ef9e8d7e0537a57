// Identification parsing and version judgement.
#include "engine/format.h"

#include <gtest/gtest.h>

#include <string>

using zelp::JudgeVersion;
using zelp::ParseIdentification;
using zelp::Version;

TEST(Identification, ParsesLikeScanf) {
  struct Case {
    std::string text;
    int converted, major, minor;
  } cases[] = {
      {"KOVA-PATCH3.0", 2, 3, 0},
      {"KOVA-PATCH3.1", 2, 3, 1},
      {"KOVA-PATCH2.5", 2, 2, 5},
      {"KOVA-PATCH3", 1, 3, -1},  // only one number converts
      {"KOVA-PATCH3.", 1, 3, -1},
      {"KOVA-PATCH 3. 0", 2, 3, 0},          // white space before each number
      {"KOVA-PATCH\t\n3.\v\f\r0", 2, 3, 0},  // every scanf space
      {"KOVA-PATCH+3.-0", 2, 3, 0},          // signs
      {"KOVA-PATCH-1.+7", 2, -1, 7},
      {"KOVA-PATCH3.0garbage", 2, 3, 0},  // the rest is ignored
      {"KOVA-PATCH03.00", 2, 3, 0},
      {"KOVA-PATCH3 .0", 1, 3, -1},  // no white space before the dot
      {"KOVA-PATCH+.0", 0, -1, -1},  // a sign alone is no number
      {"KOVA-PATCH.0", 0, -1, -1},
      {"KOVA-PATCH", 0, -1, -1},
      {"kova-patch3.0", 0, -1, -1},  // the prefix is literal
      {" KOVA-PATCH3.0", 0, -1, -1},
      {"KOVA-PATC", 0, -1, -1},
      {"", 0, -1, -1},
      {"KOVA-PATCH99999999999.0", 2, 2147483647, 0},  // saturates, never wraps to 3
  };
  for (const auto& c : cases) {
    int major = -1, minor = -1;
    EXPECT_EQ(c.converted, ParseIdentification(c.text.c_str(), major, minor)) << c.text;
    if (c.converted >= 1) {
      EXPECT_EQ(c.major, major) << c.text;
    }
    if (c.converted == 2) {
      EXPECT_EQ(c.minor, minor) << c.text;
    }
  }
}

TEST(Identification, JudgesVersions) {
  struct Case {
    int major, minor;
    Version v;
  } cases[] = {
      {3, 0, Version::kSupported}, {3, 1, Version::kUnknown}, {3, -1, Version::kUnknown},
      {2, 0, Version::kOlder},     {2, 5, Version::kOlder},   {1, 9, Version::kOlder},
      {4, 0, Version::kUnknown},   {0, 0, Version::kUnknown}, {-3, 0, Version::kUnknown},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.v, JudgeVersion(c.major, c.minor)) << c.major << "." << c.minor;
}
