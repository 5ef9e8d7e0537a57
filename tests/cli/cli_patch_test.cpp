// Runs the built zelp on patch files written here and checks what it prints,
// its exit code and what it leaves in the target.
#include <gtest/gtest.h>

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
// report line stays as it is.
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
  const std::string o2 = dir.File("o.bin");
  const std::vector<uint8_t> ipsBytes = {'P', 'A', 'T',  'C',  'H', 0,   0,  2,
                                         0,   2,   0x11, 0x22, 'E', 'O', 'F'};
  WriteFile(ips, ipsBytes);
  WriteFile(cut, std::vector<uint8_t>(ipsBytes.begin(), ipsBytes.begin() + 8));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + " " + (c.lcMessages ? c.lcMessages : "-") +
                 " " + (c.lang ? c.lang : "-"));
    testutil::RunOptions o;
    o.locale[0] = c.lcAll, o.locale[1] = c.lcMessages, o.locale[2] = c.lang;
    auto refused = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("none")}, o);
    EXPECT_EQ(c.chinese ? "目标文件打开失败\nzelp: "
                          "无法写入目标文件：文件不存在、不是普通文件、只读或正在被使用\n"
                        : testutil::Said(zelp::Outcome::kTargetOpen),
              refused.err);
    WriteFile(t, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    auto patched = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), t}, o);
    EXPECT_EQ(c.chinese ? "补丁成功\nzelp: 已在原文件上给 '" + t + "' 打上补丁：10 → 8 字节\n"
                        : "补丁成功\nzelp: patched '" + t + "' in place: 10 → 8 bytes\n",
              patched.out);
    // The other formats' lines, in the same words.
    auto copied = RunProgram(ZELP_BIN, {"apply", ips, t, "-o", o2}, o);
    EXPECT_EQ(
        c.chinese
            ? "补丁成功\nzelp: 已给 '" + t + "' 的副本打上补丁，写入 '" + o2 + "'：8 → 8 字节\n"
            : "补丁成功\nzelp: patched a copy of '" + t + "' into '" + o2 + "': 8 → 8 bytes\n",
        copied.out);
    auto damaged = RunProgram(ZELP_BIN, {"apply", cut, t}, o);
    EXPECT_EQ(c.chinese
                  ? "zelp: IPS 补丁已损坏：补丁文件不完整：在第 5 "
                    "字节处的一步中间就结束了（没有下载完？）\n"
                  : "zelp: the IPS patch is damaged: it is cut short: it ends inside the step at "
                    "byte 5 (an incomplete download?)\n",
              damaged.err);
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
