// zelp create and zelp pack, run as an author would, checked by applying
// the result with zelp apply and reading it with zelp info.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::WriteFile;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Hex8(uint32_t v) {
  char s[9];
  std::snprintf(s, sizeof s, "%08X", v);
  return s;
}

uint32_t ZlibCrc(const Bytes& v) {
  return static_cast<uint32_t>(crc32(0, v.data(), static_cast<uInt>(v.size())));
}

// Names in the folder, to see that no temporary file is left behind.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(CliCreate, RoundTripThroughTheCommand) {
  std::mt19937 rng(31);
  struct Case {
    std::string name;
    size_t sizeA, sizeB;
    int changes;
  } cases[] = {
      {"same size", 100000, 100000, 50}, {"growing", 5000, 90000, 10},
      {"shrinking", 90000, 5000, 10},    {"empty original", 0, 3000, 0},
      {"empty modified", 3000, 0, 0},    {"equal", 7000, 7000, 0},
  };
  for (const Case& c : cases) {
    testutil::TempDir dir;
    Bytes a = testutil::RandomBytes(c.sizeA, rng());
    Bytes b(a.begin(), a.begin() + std::min(c.sizeA, c.sizeB));
    Bytes more = testutil::RandomBytes(c.sizeB - b.size(), rng());
    b.insert(b.end(), more.begin(), more.end());
    for (int i = 0; i < c.changes; ++i) b[rng() % b.size()] ^= 0x5A;
    WriteFile(dir.File("a.bin"), a);
    WriteFile(dir.File("b.bin"), b);
    auto made = RunProgram(
        ZELP_BIN, {"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("p.zelp")});
    ASSERT_EQ(0, made.exitCode) << c.name << made.err;
    EXPECT_EQ(0u, made.out.find("zelp: wrote patch '" + dir.File("p.zelp") + "': ")) << made.out;

    auto info = RunProgram(ZELP_BIN, {"info", dir.File("p.zelp")});
    EXPECT_EQ(0, info.exitCode) << c.name;
    std::string crcLine = c.sizeA ? Hex8(ZlibCrc(a)) : "无";  // an empty file's CRC is 0: no check
    EXPECT_EQ("补丁版本: KOVA-PATCH3.0\n目标文件的CRC32验证: " + crcLine +
                  "\n打补丁后的文件大小: " + std::to_string(b.size()) + "\n",
              info.out)
        << c.name;

    WriteFile(dir.File("t.bin"), a);
    auto applied = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("t.bin")});
    EXPECT_EQ(0, applied.exitCode) << c.name << applied.err;
    EXPECT_EQ(b, ReadFile(dir.File("t.bin"))) << c.name;
    EXPECT_EQ(a, ReadFile(dir.File("a.bin"))) << c.name;  // inputs untouched
    EXPECT_EQ((std::vector<std::string>{"a.bin", "b.bin", "p.zelp", "t.bin"}), Listing(dir.path()));
  }
}

TEST(CliCreate, NoCrcAndDescription) {
  testutil::TempDir dir;
  Bytes a = testutil::RandomBytes(4000, 3), b = a;
  b[100] ^= 1;
  WriteFile(dir.File("a.bin"), a);
  WriteFile(dir.File("b.bin"), b);
  std::string text =
      "\xEF\xBB\xBF"
      "汉化补丁 v1\n使用方法:\r\n选择 ROM 文件";
  WriteFile(dir.File("d.txt"), Bytes(text.begin(), text.end()));
  auto made =
      RunProgram(ZELP_BIN, {"create", dir.File("a.bin"), dir.File("b.bin"), "-o",
                            dir.File("p.zelp"), "--no-crc", "--description", dir.File("d.txt")});
  ASSERT_EQ(0, made.exitCode) << made.err;
  auto info = RunProgram(ZELP_BIN, {"info", dir.File("p.zelp")});
  EXPECT_EQ(
      "补丁版本: KOVA-PATCH3.0\n目标文件的CRC32验证: 无\n打补丁后的文件大小: 4000\n\n"
      "汉化补丁 v1\n使用方法:\n选择 ROM 文件\n",
      info.out);
  // Without a CRC the patch applies to any file of that kind.
  Bytes other = testutil::RandomBytes(4000, 4);
  WriteFile(dir.File("t.bin"), other);
  ASSERT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("t.bin")}).exitCode);
  other[100] = b[100];
  EXPECT_EQ(other, ReadFile(dir.File("t.bin")));
}

TEST(CliCreate, RefusalsLeaveNothingBehind) {
  testutil::TempDir dir;
  Bytes a = testutil::RandomBytes(1000, 8), b = testutil::RandomBytes(1000, 9);
  WriteFile(dir.File("a.bin"), a);
  WriteFile(dir.File("b.bin"), b);
  WriteFile(dir.File("old.zelp"), {1, 2, 3});
  std::string big(40000, 'x');  // 40,000 units: too long
  WriteFile(dir.File("long.txt"), Bytes(big.begin(), big.end()));
  WriteFile(dir.File("bad.txt"), {'o', 'k', 0xC3, 0x28});
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"create", dir.File("none.bin"), dir.File("b.bin"), "-o", dir.File("old.zelp")},
       1,
       "zelp: cannot open '" + dir.File("none.bin") + "'\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("a.bin")},
       1,
       "zelp: the output '" + dir.File("a.bin") + "' is the input '" + dir.File("a.bin") +
           "'; choose another name\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("old.zelp"), "--description",
        dir.File("long.txt")},
       1,
       "zelp: the description '" + dir.File("long.txt") +
           "' is too long: 40000 UTF-16 units, at most 32768 fit\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("old.zelp"), "--description",
        dir.File("bad.txt")},
       1,
       "zelp: the description '" + dir.File("bad.txt") + "' is not valid UTF-8\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("nodir/x.zelp")},
       1,
       "zelp: cannot create '" + dir.File("nodir/x.zelp") + "'\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin")}, 2, ""},
      {{"create", dir.File("a.bin"), "-o", dir.File("old.zelp")}, 2, ""},
  };
  for (const auto& c : cases) {
    auto r = RunProgram(ZELP_BIN, c.args);
    EXPECT_EQ(c.code, r.exitCode) << r.err;
    if (c.code == 1) {
      EXPECT_EQ(c.err, r.err);
    } else {
      EXPECT_NE(std::string::npos, r.err.find("usage: zelp")) << r.err;
    }
    EXPECT_EQ(a, ReadFile(dir.File("a.bin")));
    EXPECT_EQ((Bytes{1, 2, 3}), ReadFile(dir.File("old.zelp")));
    EXPECT_EQ((std::vector<std::string>{"a.bin", "b.bin", "bad.txt", "long.txt", "old.zelp"}),
              Listing(dir.path()));
  }
  // A successful run replaces the old output.
  auto r = RunProgram(ZELP_BIN,
                      {"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("old.zelp")});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(0, std::memcmp(ReadFile(dir.File("old.zelp")).data(), "KOVA-PATCH3.0", 13));
}
