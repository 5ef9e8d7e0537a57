// Runs the built zelp on patch files written here and checks what it prints,
// its exit code and what it leaves in the target.
#include <gtest/gtest.h>

#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::WriteFile;

namespace {

std::vector<uint8_t> SamplePatch(uint32_t crc) {
  PatchBuilder p;
  p.Header(8, crc).Abs(2, {0x11, 0x22}).End();
  size_t descAt = p.bytes.size();
  p.Description(u"第一行\r\n第二行");
  p.SetU64(32, descAt);
  return p.bytes;
}

}  // namespace

TEST(CliInfo, PrintsSummaryAndDescriptionWithLineFeeds) {
  testutil::TempDir dir;
  WriteFile(dir.File("p.zelp"), SamplePatch(0x2BBB27FF));
  auto r = RunProgram(ZELP_BIN, {"info", dir.File("p.zelp")});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(
      "补丁版本: KOVA-PATCH3.0\n目标文件的CRC32验证: 2BBB27FF\n打补丁后的文件大小: 8\n"
      "Patch version KOVA-PATCH3.0; CRC-32 the file to patch must have: 2BBB27FF; file size "
      "after patching: 8 bytes.\n\n第一行\n第二行\n",
      r.out);
  EXPECT_EQ("", r.err);
}

TEST(CliInfo, BaseSelectsWhereThePatchStarts) {
  testutil::TempDir dir;
  std::vector<uint8_t> file(100, 'x');
  auto patch = SamplePatch(0);
  file.insert(file.end(), patch.begin(), patch.end());
  WriteFile(dir.File("prog"), file);
  for (const char* base : {"100", "0x64"}) {
    auto r = RunProgram(ZELP_BIN, {"info", dir.File("prog"), "--base", base});
    EXPECT_EQ(0, r.exitCode) << base;
    EXPECT_NE(std::string::npos, r.out.find("目标文件的CRC32验证: 无\n")) << r.out;
  }
  // Without --base: neither a bare patch nor a stamped program.
  auto r = RunProgram(ZELP_BIN, {"info", dir.File("prog")});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("zelp: '" + dir.File("prog") +
                "': it is neither a ZELP patch nor a program that carries one\n",
            r.err);
}

TEST(CliApply, SuccessOnStdoutFailureOnStderr) {
  testutil::TempDir dir;
  std::vector<uint8_t> target = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  WriteFile(dir.File("t.bin"), target);
  WriteFile(dir.File("p.zelp"), SamplePatch(0));
  auto r = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("t.bin")});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ("补丁成功\nzelp: patched '" + dir.File("t.bin") + "' in place: 10 → 8 bytes\n", r.out);
  EXPECT_EQ("", r.err);
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 0x11, 0x22, 5, 6, 7, 8}), ReadFile(dir.File("t.bin")));

  auto missing = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("none.bin")});
  EXPECT_EQ(1, missing.exitCode);
  EXPECT_EQ("", missing.out);
  EXPECT_EQ(testutil::Said(zelp::Outcome::kTargetOpen), missing.err);
}

// The explanations follow the locale (LC_ALL, then LC_MESSAGES, then LANG;
// empty is unset), whether or not the system has it; the program's own
// report line stays as it is. One row per family of messages.
TEST(CliApply, ExplanationsInTheLocalesLanguage) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    bool chinese;
  } cases[] = {
      {nullptr, nullptr, nullptr, false},
      {nullptr, nullptr, "C.UTF-8", false},
      {nullptr, nullptr, "zh_CN.UTF-8", true},
      {nullptr, "zh_TW.UTF-8", "en_US.UTF-8", true},
      {nullptr, "en_US.UTF-8", "zh_CN.UTF-8", false},
      {"C", "zh_CN.UTF-8", "zh_CN.UTF-8", false},
      {"zh_CN.GB18030", nullptr, "en_GB.UTF-8", true},
      {"", "", "zh_CN.UTF-8", true},
  };
  testutil::TempDir dir;
  WriteFile(dir.File("p.zelp"), SamplePatch(0));
  const std::string t = dir.File("t.bin"), ips = dir.File("p.ips"), cut = dir.File("cut.ips");
  const std::string o2 = dir.File("o.bin"), a = dir.File("a"), b = dir.File("b");
  const std::string bps = dir.File("p.bps"), empty = dir.File("empty");
  const std::vector<uint8_t> ipsBytes = {'P', 'A', 'T',  'C',  'H', 0,   0,  2,
                                         0,   2,   0x11, 0x22, 'E', 'O', 'F'};
  const std::vector<uint8_t> aBytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                             bBytes = {1, 2, 0x11, 0x22, 5, 6, 7, 8};
  WriteFile(ips, ipsBytes);
  WriteFile(cut, std::vector<uint8_t>(ipsBytes.begin(), ipsBytes.begin() + 8));
  WriteFile(a, aBytes);
  WriteFile(b, bBytes);
  WriteFile(empty, {});
  // The number of actions is the writer's choice: info must say the same.
  const std::string made = RunProgram(ZELP_BIN, {"create", a, b, "-o", bps}).out;
  const size_t at = made.find(" bytes, ") + 8;
  const std::string actions = made.substr(at, made.find(' ', at) - at);
  const std::string aCrc = testutil::Hex8(zelp::Crc32Of(aBytes.data(), aBytes.size())),
                    bCrc = testutil::Hex8(zelp::Crc32Of(bBytes.data(), bBytes.size()));
  const std::string digests =
      "CRC-32 00000000, MD5 d41d8cd98f00b204e9800998ecf8427e, SHA-1 "
      "da39a3ee5e6b4b0d3255bfef95601890afd80709\n";
  struct Row {
    std::vector<std::string> args;
    bool toOut;  // else stderr
    std::string english, chinese;
  } rows[] = {
      {{"apply", dir.File("p.zelp"), dir.File("none")},
       false,
       testutil::Said(zelp::Outcome::kTargetOpen),
       "目标文件打开失败\nzelp: 无法写入目标文件：文件不存在、不是普通文件、只读或正在被使用\n"},
      {{"apply", dir.File("p.zelp"), t},
       true,
       "补丁成功\nzelp: patched '" + t + "' in place: 10 → 8 bytes\n",
       "补丁成功\nzelp: 已在原文件上给 '" + t + "' 打上补丁：10 → 8 字节\n"},
      // The other formats' lines, in the same words.
      {{"apply", ips, t, "-o", o2},
       true,
       "补丁成功\nzelp: patched a copy of '" + t + "' into '" + o2 + "': 8 → 8 bytes\n",
       "补丁成功\nzelp: 已给 '" + t + "' 的副本打上补丁，写入 '" + o2 + "'：8 → 8 字节\n"},
      {{"apply", cut, t},
       false,
       "zelp: the IPS patch is damaged: it is cut short: it ends inside the step at byte 5 (an "
       "incomplete download?)\n",
       "zelp: IPS 补丁已损坏：补丁文件不完整：在第 5 字节处的一步中间就结束了（没有下载完？）\n"},
      // The usage line after a usage error stays as the help says it.
      {{"pack", a, "-o"},
       false,
       "zelp: -o needs a value\nusage: zelp pack STUB PATCH -o OUT\n",
       "zelp: -o 需要一个值\nusage: zelp pack STUB PATCH -o OUT\n"},
      {{"create", a, b, "-o", dir.File("x.ips"), "--format", "bps"},
       false,
       "zelp: '" + dir.File("x.ips") +
           "' is named like an IPS patch, but --format bps writes a BPS patch; give it a name "
           "that matches, or leave out --format\n",
       "zelp: '" + dir.File("x.ips") +
           "' 的名字像 IPS 补丁，但 --format bps 写出的是 BPS 补丁；请换一个相符的名字，或去掉 "
           "--format\n"},
      {{"create", a, b, "-o", dir.File("no/p.zelp")},
       false,
       "zelp: cannot create '" + dir.File("no/p.zelp") + "': its folder does not exist\n",
       "zelp: 无法创建 '" + dir.File("no/p.zelp") + "'：所在的文件夹不存在\n"},
      {{"check", ips, empty},
       true,
       "zelp: the patch checks no CRC-32: it applies to any file\nzelp: this file: " + digests,
       "zelp: 补丁不检查CRC32：可以打在任何文件上\nzelp: 这个文件：" + digests},
      {{"info", bps},
       true,
       "format: BPS\nsource: 10 bytes, CRC-32 " + aCrc + "\nresult: 8 bytes, CRC-32 " + bCrc +
           "\nactions: " + actions + "\n",
       "格式: BPS\n原文件: 10 字节，CRC32 " + aCrc + "\n结果: 8 字节，CRC32 " + bCrc +
           "\n操作数: " + actions + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcMessages ? c.lcMessages : "-") +
                 " " + (c.lang ? c.lang : "-"));
    testutil::RunOptions o;
    o.locale[0] = c.lcAll, o.locale[1] = c.lcMessages, o.locale[2] = c.lang;
    WriteFile(t, aBytes);
    for (const Row& row : rows) {
      SCOPED_TRACE(row.args[0] + " " + row.args.back());
      auto r = RunProgram(ZELP_BIN, row.args, o);
      EXPECT_EQ(c.chinese ? row.chinese : row.english, row.toOut ? r.out : r.err);
    }
  }
}

TEST(CliApply, MultiLineFailureTextPrintsAsTwoLines) {
  testutil::TempDir dir;
  PatchBuilder p;
  p.Header(4, 0).Raw({0x03});  // no such record type... then nothing
  p.bytes.back() = 0x01;       // a relative record cut short
  WriteFile(dir.File("p.zelp"), p.bytes);
  WriteFile(dir.File("t.bin"), {9, 9, 9, 9, 9});
  auto r = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("t.bin")});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(testutil::Said(zelp::Outcome::kDistanceCut, "; nothing was changed"), r.err);
  EXPECT_EQ((std::vector<uint8_t>{9, 9, 9, 9, 9}), ReadFile(dir.File("t.bin")));
}

TEST(CliUsage, ExitCodes) {
  struct Case {
    std::vector<std::string> args;
    int code;
    bool usageOnStdout;
  } cases[] = {
      {{}, 2, false},
      {{"--help"}, 0, true},
      {{"frobnicate"}, 2, false},
      {{"info"}, 2, false},
      {{"apply", "only-one"}, 2, false},
      {{"info", "x", "--base"}, 2, false},
      {{"info", "x", "--base", "12q"}, 2, false},
      {{"info", "x", "--bogus"}, 2, false},
  };
  for (const auto& c : cases) {
    auto r = RunProgram(ZELP_BIN, c.args);
    EXPECT_EQ(c.code, r.exitCode) << (c.args.empty() ? "" : c.args[0]);
    const std::string& usageStream = c.usageOnStdout ? r.out : r.err;
    bool badNumber = c.args.size() == 4 && c.args[3] == "12q";
    if (!badNumber) {
      EXPECT_NE(std::string::npos, usageStream.find("usage: zelp")) << usageStream;
    }
  }
}
