// zelp for people: why a target is refused (zelp check, exit 3, the English
// lines), apply -o and --backup that keep the original, a damaged patch found
// by info, output write errors, specific usage errors, --version and help.
#include <gtest/gtest.h>

#include <filesystem>

#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::Hex8;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

const std::string kCrcRefused =
    "目标文件没有通过CRC32验证\nzelp: this is not the file the patch was made for; nothing was "
    "changed\n";
const std::string kAlreadyPatched =
    "zelp: this file is already patched: it holds everything the patch writes\n";

// An original, the patch for it and the patched file.
struct Sample {
  TempDir dir;
  Bytes original = testutil::RandomBytes(3000, 41), patched;
  std::string patch = dir.File("p.zelp");
  uint32_t crc = zelp::Crc32Of(original.data(), original.size());
  explicit Sample(bool withCrc = true) {
    PatchBuilder p;
    p.Header(3500, withCrc ? crc : 0).Abs(10, {1, 2, 3}).Abs(3400, {7, 7}).End();
    WriteFile(patch, p.bytes);
    patched = original;
    patched.resize(3500, 0);
    std::copy_n(Bytes{1, 2, 3}.begin(), 3, patched.begin() + 10);
    patched[3400] = patched[3401] = 7;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

}  // namespace

TEST(CliCheck, EachDiagnosisWithItsExitCode) {
  Sample s;
  Bytes withHeader = s.original;
  withHeader.insert(withHeader.begin(), 512, 0x11);
  Bytes patchedWithHeader = s.patched;
  patchedWithHeader.insert(patchedWithHeader.begin(), 512, 0x11);
  const Bytes other = testutil::RandomBytes(1234, 42);
  const std::string t = s.dir.File("t.bin");
  struct Case {
    const char* what;
    Bytes target;
    int code;
    std::string check;  // what zelp check prints (stdout when 0, else stderr)
  } cases[] = {
      {"the original", s.original, 0,
       "zelp: the patch applies to this file (CRC-32 " + Hex8(s.crc) + ")\n"},
      {"already patched", s.patched, 3, kAlreadyPatched},
      {"a copier header", withHeader, 3,
       "zelp: this file starts with a 512-byte copier header; the patch was made for the file "
       "without it\nzelp: apply it with --header: the patch then skips the header of '" +
           t + "' and leaves it in place\n"},
      {"already patched, behind a copier header", patchedWithHeader, 3,
       "zelp: this file starts with a 512-byte copier header and is already patched behind it: "
       "it holds everything the patch writes\nzelp: with --header, zelp reads '" +
           t + "' past its header and leaves the header in place\n"},
      {"another file", other, 3,
       "zelp: expected CRC-32 " + Hex8(s.crc) + ", this file has " +
           Hex8(zelp::Crc32Of(other.data(), other.size())) +
           " (1,234 bytes)\nzelp: this is another file or another version of it; the patch's "
           "description or notes may say which one it needs\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(t, c.target);
    auto check = RunProgram(ZELP_BIN, {"check", s.patch, t});
    EXPECT_EQ(c.code, check.exitCode);
    // The verdict, then the file's checksums (compared with md5sum's in the format tests).
    EXPECT_EQ(c.check, c.code ? check.err : check.out.substr(0, c.check.size()));
    EXPECT_NE(std::string::npos, check.out.find("zelp: this file: CRC-32 "));
    EXPECT_EQ(c.target, ReadFile(t));
    auto apply = RunProgram(ZELP_BIN, {"apply", s.patch, t});
    EXPECT_EQ(c.code, apply.exitCode);
    if (c.code) {
      EXPECT_EQ(kCrcRefused + c.check, apply.err);  // the program's line first, unchanged
      EXPECT_EQ(c.target, ReadFile(t));
    } else {
      EXPECT_TRUE(testutil::SaysPatched(apply.out)) << apply.out;
      EXPECT_EQ(s.patched, ReadFile(t));
    }
  }
  // Without a CRC any file matches; a damaged patch is no verdict on the file.
  Sample noCrc(false);
  WriteFile(t, other);
  auto r = RunProgram(ZELP_BIN, {"check", noCrc.patch, t});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(0u, r.out.find("zelp: the patch checks no CRC-32: it applies to any file\n"));
  Bytes cut = ReadFile(s.patch);
  cut.resize(cut.size() - 4);
  WriteFile(s.patch, cut);
  r = RunProgram(ZELP_BIN, {"check", s.patch, t});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(
      "zelp: the patch is damaged: it is cut short (an incomplete download?)\n"
      "zelp: the damage is at byte 54 of the patch file\n",
      r.err);
}

TEST(CliApply, ToAnOutputOrWithABackupTheOriginalSurvives) {
  const uint64_t kLimit = 64 * 1024;  // RLIMIT_FSIZE: a full disk for bigger files
  struct Case {
    const char* what;
    std::vector<std::string> extra;  // after FILE TARGET
    bool damage, otherTarget, bigTarget, bakExists;
    int code;
    std::vector<std::string> names;  // the folder afterwards, besides p.zelp and t.bin
    bool targetPatched;
  } cases[] = {
      {"-o", {"-o", "OUT"}, false, false, false, false, 0, {"out.bin"}, false},
      {"-o, another file", {"-o", "OUT"}, false, true, false, false, 3, {}, false},
      {"-o, a damaged patch", {"-o", "OUT"}, true, false, false, false, 1, {}, false},
      {"-o, a full disk", {"-o", "OUT"}, false, false, true, false, 1, {}, false},
      {"--backup", {"--backup"}, false, false, false, false, 0, {"t.bin.bak"}, true},
      {"--backup, another file", {"--backup"}, false, true, false, false, 3, {}, false},
      {"--backup, one exists", {"--backup"}, false, false, false, true, 1, {"t.bin.bak"}, false},
      {"--backup --force",
       {"--backup", "--force"},
       false,
       false,
       false,
       true,
       0,
       {"t.bin.bak"},
       true},
      {"--backup, a full disk", {"--backup"}, false, false, true, false, 1, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes original = testutil::RandomBytes(c.bigTarget ? 100000 : 3000, 43);
    PatchBuilder p;
    p.Header(static_cast<int64_t>(original.size()), zelp::Crc32Of(original.data(), original.size()))
        .Abs(5, {9, 9, 9});
    if (!c.damage) p.End();
    TempDir dir;
    const std::string t = dir.File("t.bin"), out = dir.File("out.bin");
    WriteFile(dir.File("p.zelp"), p.bytes);
    Bytes target = c.otherTarget ? testutil::RandomBytes(3000, 44) : original;
    WriteFile(t, target);
    if (c.bakExists) WriteFile(t + ".bak", {1});
    std::vector<std::string> args = {"apply", dir.File("p.zelp"), t};
    for (const std::string& e : c.extra) args.push_back(e == "OUT" ? out : e);
    testutil::RunOptions options;
    if (c.bigTarget) options.fileSizeLimit = kLimit;  // the copy does not fit beside it
    auto r = RunProgram(ZELP_BIN, args, options);
    EXPECT_EQ(c.code, r.exitCode) << r.err;
    Bytes patched = original;
    std::fill_n(patched.begin() + 5, 3, 9);
    EXPECT_EQ(c.targetPatched ? patched : target, ReadFile(t));
    std::vector<std::string> names = {"p.zelp", "t.bin"};
    names.insert(names.end(), c.names.begin(), c.names.end());
    std::sort(names.begin(), names.end());
    std::vector<std::string> got;
    for (const auto& e : fs::directory_iterator(dir.path())) got.push_back(e.path().filename());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(names, got);
    if (c.code == 0 && c.extra[0] == "-o") {
      EXPECT_EQ(patched, ReadFile(out));
    } else if (c.code == 0) {
      EXPECT_EQ(original, ReadFile(t + ".bak"));
    } else if (c.bakExists) {
      EXPECT_EQ(Bytes{1}, ReadFile(t + ".bak"));
    }
  }
}

TEST(CliInfo, ADamagedPatchAndALostOutputFail) {
  Sample s;
  Bytes cut = ReadFile(s.patch);
  cut.resize(cut.size() - 1);  // the end record is missing
  WriteFile(s.dir.File("cut.zelp"), cut);
  auto r = RunProgram(ZELP_BIN, {"info", s.dir.File("cut.zelp")});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(0u, r.out.find("补丁版本: KOVA-PATCH3.0\n")) << r.out;
  EXPECT_EQ(
      "zelp: the patch is damaged: it is cut short (an incomplete download?)\n"
      "zelp: the damage is at byte 67 of the patch file\n",
      r.err);
  WriteFile(s.dir.File("junk"), Bytes(100, 'x'));
  r = RunProgram(ZELP_BIN, {"info", "--base", "0", s.dir.File("junk")});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(
      "初始化失败\nzelp: the patch is damaged: it does not start with a ZELP "
      "identification\n",
      r.err);
  // What is printed is the result: a full disk under stdout is a failure.
  testutil::RunOptions direct;
  direct.wrap = false;
  for (std::vector<std::string> args :
       {std::vector<std::string>{"info", s.patch}, {"--help"}, {"version"}}) {
    args.insert(args.begin(), {"-c", "exec \"$@\" > /dev/full", "sh", ZELP_BIN});
    r = RunProgram("sh", args, direct);
    EXPECT_EQ(1, r.exitCode) << args[4];
    EXPECT_EQ("zelp: cannot write to standard output: No space left on device\n", r.err);
  }
}

TEST(CliUsage, SpecificMessagesAndHelp) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string first;  // the first line printed (stderr for errors, else stdout)
  } cases[] = {
      {{"create", "a", "b", "--descripton", "d"},
       2,
       "zelp: unknown option --descripton; did you mean --description?"},
      {{"create", "a", "b"}, 2, "zelp: missing -o OUT"},
      {{"pack", "a", "b"}, 2, "zelp: missing -o OUT"},
      {{"aply", "p", "t"}, 2, "zelp: unknown command 'aply'; did you mean 'apply'?"},
      {{"frobnicate"}, 2, "zelp: unknown command 'frobnicate'"},
      {{"apply", "p"}, 2, "zelp: apply needs the patch FILE and the TARGET"},
      {{"check", "p", "t", "x"}, 2, "zelp: unexpected argument 'x'"},
      {{"apply", "p", "t", "-o", "x", "--backup"},
       2,
       "zelp: -o and --backup exclude each other: with -o the target stays untouched"},
      {{"apply", "p", "t", "--force"}, 2, "zelp: --force goes with --backup"},
      {{"info", "p", "--base", "12q"}, 2, "zelp: --base takes a decimal or 0x-hexadecimal number"},
      {{"info", "p", "--base"}, 2, "zelp: --base needs a value"},
      {{"apply", "--help"},
       0,
       "usage: zelp apply FILE TARGET [--base N] [-o OUT | --backup [--force]] [--header] "
       "[--checksums]"},
      {{"help", "check"}, 0, "usage: zelp check FILE TARGET [--base N] [--header]"},
      {{"--help"}, 0, "usage: zelp <command> [arguments]"},
  };
  for (const Case& c : cases) {
    auto r = RunProgram(ZELP_BIN, c.args);
    SCOPED_TRACE(c.args[0]);
    EXPECT_EQ(c.code, r.exitCode);
    const std::string& text = c.code ? r.err : r.out;
    EXPECT_EQ(c.first, text.substr(0, text.find('\n')));
    if (c.code) {
      EXPECT_NE(std::string::npos, text.find("\nusage: zelp")) << text;
      EXPECT_EQ("", r.out);
    }
  }
  for (const char* spelling : {"--version", "version"}) {
    auto r = RunProgram(ZELP_BIN, {spelling});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ(0u, r.out.find("zelp " ZELP_VERSION " (build ")) << r.out;
  }
}
