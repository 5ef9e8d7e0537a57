// zelp create and zelp pack, run as an author would, checked by applying
// the result with zelp apply and reading it with zelp info.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "common/text.h"
#include "support/test_util.h"

using testutil::Hex8;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::WriteFile;
using Bytes = std::vector<uint8_t>;

namespace {

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
    std::string identical = a == b ? "zelp: warning: '" + dir.File("a.bin") + "' and '" +
                                         dir.File("b.bin") +
                                         "' are identical: the patch changes nothing\n"
                                   : "";
    EXPECT_EQ(identical + (c.sizeA ? ""
                                   : "zelp: note: the CRC-32 of '" + dir.File("a.bin") +
                                         "' is 0, which patches read as \"no check\": it "
                                         "applies to any file\n"),
              made.err);
    EXPECT_EQ(0u, made.out.find("zelp: wrote patch '" + dir.File("p.zelp") + "': ")) << made.out;

    auto info = RunProgram(ZELP_BIN, {"info", dir.File("p.zelp")});
    EXPECT_EQ(0, info.exitCode) << c.name;
    std::string crcLine = c.sizeA ? Hex8(ZlibCrc(a)) : "无";  // an empty file's CRC is 0: no check
    EXPECT_EQ("补丁版本: KOVA-PATCH3.0\n目标文件的CRC32验证: " + crcLine +
                  "\n打补丁后的文件大小: " + std::to_string(b.size()) +
                  "\nPatch version KOVA-PATCH3.0; CRC-32 the file to patch must have: " +
                  (c.sizeA ? crcLine : "none (any file is accepted)") +
                  "; file size after patching: " + zelp::Utf16ToUtf8(zelp::Grouped(b.size())) +
                  " bytes.\n",
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
      "补丁版本: KOVA-PATCH3.0\n目标文件的CRC32验证: 无\n打补丁后的文件大小: 4000\n"
      "Patch version KOVA-PATCH3.0; CRC-32 the file to patch must have: none (any file is "
      "accepted); file size after patching: 4,000 bytes.\n\n"
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
       "zelp: the description '" + dir.File("bad.txt") +
           "' is not valid UTF-8 (nor UTF-16 with a byte order mark); if it was written on a "
           "Chinese Windows system, convert it first: iconv -f GBK -t UTF-8 '" +
           dir.File("bad.txt") + "' > description-utf8.txt\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("bad.txt"), "--description",
        dir.File("bad.txt")},
       1,
       "zelp: the output '" + dir.File("bad.txt") + "' is the description '" + dir.File("bad.txt") +
           "'; choose another name\n"},
      {{"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("nodir/x.zelp")},
       1,
       "zelp: cannot create '" + dir.File("nodir/x.zelp") + "': its folder does not exist\n"},
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
  // A successful run replaces the old output, and says so.
  auto r = RunProgram(ZELP_BIN,
                      {"create", dir.File("a.bin"), dir.File("b.bin"), "-o", dir.File("old.zelp")});
  EXPECT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ("zelp: replaced the existing '" + dir.File("old.zelp") + "'\n", r.err);
  EXPECT_EQ(0, std::memcmp(ReadFile(dir.File("old.zelp")).data(), "KOVA-PATCH3.0", 13));
}

namespace {

const Bytes kMarker = {'Z', 'E', 'L', 'P', '-', 'P',  'A',  'T',
                       'C', 'H', '-', 'A', 'T', 0x9E, 0x3C, 0xA7};
// Only the dialog program carries this one (ui/dialog_mark.cpp).
const Bytes kDialogMark = {'Z', 'E', 'L', 'P', '-',  'D',  'I',  'A',
                           'L', 'O', 'G', '-', 0xD1, 0xA7, 0x6B, 0x2E};

// A bare patch from A to B with a description, made by zelp create.
Bytes MakePatch(const testutil::TempDir& dir, const Bytes& a, const Bytes& b,
                const std::string& description) {
  WriteFile(dir.File("pa.bin"), a);
  WriteFile(dir.File("pb.bin"), b);
  WriteFile(dir.File("pd.txt"), Bytes(description.begin(), description.end()));
  auto r = RunProgram(ZELP_BIN, {"create", dir.File("pa.bin"), dir.File("pb.bin"), "-o",
                                 dir.File("pp.zelp"), "--description", dir.File("pd.txt")});
  EXPECT_EQ(0, r.exitCode) << r.err;
  Bytes patch = ReadFile(dir.File("pp.zelp"));
  for (const char* name : {"pa.bin", "pb.bin", "pd.txt", "pp.zelp"})
    std::remove(dir.File(name).c_str());
  return patch;
}

// Runs a packed program (the native stand-in prints its stamped offset).
std::string RunPacked(const std::string& path) {
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return RunProgram(path, {}).out;
}

size_t Count(const Bytes& hay, const Bytes& needle) {
  size_t n = 0;
  for (auto it = hay.begin();
       (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it)
    ++n;
  return n;
}

}  // namespace

TEST(CliPack, PackedProgramFindsItsPatch) {
  testutil::TempDir dir;
  Bytes stub = ReadFile(ZELP_FAKE_STUB);
  ASSERT_EQ(1u, Count(stub, kMarker));
  WriteFile(dir.File("stub"), stub);
  Bytes a = testutil::RandomBytes(5000, 11), b = a;
  b[10] ^= 0xFF;
  WriteFile(dir.File("p.zelp"), MakePatch(dir, a, b, "第一版\n"));
  auto r =
      RunProgram(ZELP_BIN, {"pack", dir.File("stub"), dir.File("p.zelp"), "-o", dir.File("prog")});
  ASSERT_EQ(0, r.exitCode) << r.err;
  Bytes prog = ReadFile(dir.File("prog"));
  EXPECT_EQ(stub.size() + ReadFile(dir.File("p.zelp")).size(), prog.size());
  EXPECT_EQ(std::to_string(stub.size()) + "\n", RunPacked(dir.File("prog")));
  EXPECT_EQ(stub, ReadFile(dir.File("stub")));  // inputs untouched

  auto info = RunProgram(ZELP_BIN, {"info", dir.File("prog")});
  EXPECT_EQ(0, info.exitCode) << info.err;
  EXPECT_NE(std::string::npos, info.out.find("\n\n第一版\n")) << info.out;
  WriteFile(dir.File("t.bin"), a);
  auto applied = RunProgram(ZELP_BIN, {"apply", dir.File("prog"), dir.File("t.bin")});
  EXPECT_TRUE(testutil::SaysPatched(applied.out)) << applied.out;
  EXPECT_EQ(b, ReadFile(dir.File("t.bin")));

  // Packing the program again replaces its patch.
  WriteFile(dir.File("q.zelp"), MakePatch(dir, a, a, "第二版\n"));
  r = RunProgram(ZELP_BIN, {"pack", dir.File("prog"), dir.File("q.zelp"), "-o", dir.File("prog2")});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("(the patch the stub carried was left out)")) << r.out;
  EXPECT_EQ(stub.size() + ReadFile(dir.File("q.zelp")).size(), ReadFile(dir.File("prog2")).size());
  EXPECT_EQ(std::to_string(stub.size()) + "\n", RunPacked(dir.File("prog2")));
  info = RunProgram(ZELP_BIN, {"info", dir.File("prog2")});
  EXPECT_NE(std::string::npos, info.out.find("\n\n第二版\n")) << info.out;
  EXPECT_EQ(std::string::npos, info.out.find("第一版")) << info.out;
}

TEST(CliPack, CreateWithStubMakesTheProgramInOneStep) {
  testutil::TempDir dir;
  Bytes stub = ReadFile(ZELP_FAKE_STUB);
  WriteFile(dir.File("stub"), stub);
  // The modified file holds the marker itself: bytes in the appended patch
  // do not count as a second stamp, neither now nor when packing again.
  Bytes a = testutil::RandomBytes(70000, 12), b = a;
  std::copy(stub.begin(), stub.end(), b.begin() + 100);
  WriteFile(dir.File("a.bin"), a);
  WriteFile(dir.File("b.bin"), b);
  auto r = RunProgram(ZELP_BIN, {"create", dir.File("a.bin"), dir.File("b.bin"), "-o",
                                 dir.File("prog"), "--stub", dir.File("stub")});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(0u, r.out.find("zelp: wrote program '")) << r.out;
  Bytes prog = ReadFile(dir.File("prog"));
  EXPECT_EQ(2u, Count(prog, kMarker));
  EXPECT_EQ(std::to_string(stub.size()) + "\n", RunPacked(dir.File("prog")));
  WriteFile(dir.File("t.bin"), a);
  EXPECT_TRUE(testutil::SaysPatched(
      RunProgram(ZELP_BIN, {"apply", dir.File("prog"), dir.File("t.bin")}).out));
  EXPECT_EQ(b, ReadFile(dir.File("t.bin")));

  WriteFile(dir.File("q.zelp"), MakePatch(dir, a, a, "x"));
  r = RunProgram(ZELP_BIN, {"pack", dir.File("prog"), dir.File("q.zelp"), "-o", dir.File("prog2")});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(std::to_string(stub.size()) + "\n", RunPacked(dir.File("prog2")));
}

TEST(CliPack, Refusals) {
  testutil::TempDir dir;
  Bytes stub = ReadFile(ZELP_FAKE_STUB);
  WriteFile(dir.File("stub"), stub);
  Bytes doubled = stub;  // a second marker, with a field of its own
  doubled.insert(doubled.end(), kMarker.begin(), kMarker.end());
  doubled.insert(doubled.end(), 8, 0xFF);
  WriteFile(dir.File("doubled"), doubled);
  Bytes stampOnly = testutil::RandomBytes(2000, 15);  // the stamp, but not the dialog's mark
  std::copy(kMarker.begin(), kMarker.end(), stampOnly.begin() + 500);
  std::fill(stampOnly.begin() + 516, stampOnly.begin() + 524, 0xFF);
  WriteFile(dir.File("stamp-only"), stampOnly);
  // zelp itself holds the stamp's bytes (it searches for them), never the mark.
  const Bytes zelp = ReadFile(ZELP_BIN);
  EXPECT_EQ(0u, Count(zelp, kDialogMark));
  WriteFile(dir.File("zelp"), zelp);
  WriteFile(dir.File("plain"), testutil::RandomBytes(3000, 13));
  Bytes a = testutil::RandomBytes(100, 14);
  WriteFile(dir.File("p.zelp"), MakePatch(dir, a, a, ""));
  WriteFile(dir.File("out"), {7});
  const std::vector<std::string> all = {"doubled",    "out",  "p.zelp", "plain",
                                        "stamp-only", "stub", "zelp"};
  const std::string notTheDialog =
      "' is not the ZELP dialog program (zelp-stub.exe): it carries the patch stamp but not the "
      "dialog's mark\n";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"pack", dir.File("plain"), dir.File("p.zelp"), "-o", dir.File("out")},
       1,
       "zelp: '" + dir.File("plain") +
           "' is not a ZELP program: its patch stamp marker is missing\n"},
      {{"pack", dir.File("doubled"), dir.File("p.zelp"), "-o", dir.File("out")},
       1,
       "zelp: '" + dir.File("doubled") +
           "': the patch stamp marker occurs 2 times; it must occur exactly once\n"},
      {{"pack", dir.File("stamp-only"), dir.File("p.zelp"), "-o", dir.File("out")},
       1,
       "zelp: '" + dir.File("stamp-only") + notTheDialog},
      {{"create", dir.File("plain"), dir.File("plain"), "-o", dir.File("out"), "--stub",
        dir.File("stamp-only")},
       1,
       "zelp: '" + dir.File("stamp-only") + notTheDialog},
      {{"pack", dir.File("zelp"), dir.File("p.zelp"), "-o", dir.File("out")}, 1, "*"},
      {{"pack", dir.File("stub"), dir.File("plain"), "-o", dir.File("out")},
       1,
       "zelp: '" + dir.File("plain") + "' is not a ZELP 3.0 patch\n"},
      {{"pack", dir.File("stub"), dir.File("p.zelp"), "-o", dir.File("stub")},
       1,
       "zelp: the output '" + dir.File("stub") + "' is the input '" + dir.File("stub") +
           "'; choose another name\n"},
      {{"create", dir.File("plain"), dir.File("plain"), "-o", dir.File("out"), "--stub",
        dir.File("doubled")},
       1,
       "zelp: '" + dir.File("doubled") +
           "': the patch stamp marker occurs 2 times; it must occur exactly once\n"},
      {{"info", dir.File("stub")},
       1,
       "zelp: '" + dir.File("stub") + "': it is a ZELP program without a patch\n"},
      {{"apply", dir.File("plain"), dir.File("out")},
       1,
       "zelp: '" + dir.File("plain") +
           "': it is neither a ZELP patch nor a program that carries one\n"},
      {{"pack", dir.File("stub"), dir.File("p.zelp")}, 2, ""},
  };
  for (const auto& c : cases) {
    auto r = RunProgram(ZELP_BIN, c.args);
    EXPECT_EQ(c.code, r.exitCode) << c.args[0] << r.err;
    if (c.code == 1) {
      if (c.err != "*") {
        EXPECT_EQ(c.err, r.err);
      }
    } else {
      EXPECT_NE(std::string::npos, r.err.find("usage: zelp")) << r.err;
    }
    EXPECT_EQ((Bytes{7}), ReadFile(dir.File("out")));
    EXPECT_EQ(stub, ReadFile(dir.File("stub")));
    EXPECT_EQ(all, Listing(dir.path()));
  }
}
