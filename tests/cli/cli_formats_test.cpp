// zelp with IPS, UPS and BPS patches: create, info, check and apply (in
// place, -o, --backup, --header), refusals that leave the target as it was,
// and convert between the formats and into a ZELP patch.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::WriteFile;

namespace {

using Bytes = std::vector<uint8_t>;

// An original and a modified file with changed bytes, a moved block and growth.
struct Files {
  testutil::TempDir dir;
  Bytes original = testutil::RandomBytes(300000, 5), modified;
  Files() {
    modified = original;
    std::rotate(modified.begin() + 1000, modified.begin() + 41000, modified.begin() + 90000);
    for (size_t i = 100000; i < 300000; i += 4099) modified[i] ^= 0x33;
    modified.insert(modified.end(), original.begin(), original.begin() + 3000);
    WriteFile(dir.File("orig.bin"), original);
    WriteFile(dir.File("mod.bin"), modified);
  }
  std::string Patch(const std::string& ext) {
    const std::string path = dir.File("p." + ext);
    auto r =
        RunProgram(ZELP_BIN, {"create", dir.File("orig.bin"), dir.File("mod.bin"), "-o", path});
    EXPECT_EQ(0, r.exitCode) << r.err;
    return path;
  }
};

const char* const kFormats[] = {"ips", "ups", "bps"};

}  // namespace

TEST(CliFormats, CreatedPatchesApplyInPlaceToACopyAndPastAHeader) {
  Files f;
  for (const char* ext : {"zelp", "ips", "ups", "bps"}) {
    const std::string patch = f.Patch(ext), target = f.dir.File("t.bin");
    WriteFile(target, f.original);
    auto r = RunProgram(ZELP_BIN, {"apply", patch, target});
    EXPECT_EQ(0, r.exitCode) << ext << r.err;
    EXPECT_EQ(0u, r.out.find("补丁成功\n")) << ext;
    EXPECT_EQ(f.modified, ReadFile(target)) << ext;

    WriteFile(target, f.original);
    r = RunProgram(ZELP_BIN, {"apply", patch, target, "-o", f.dir.File("out.bin")});
    EXPECT_EQ(0, r.exitCode) << ext << r.err;
    EXPECT_EQ(f.modified, ReadFile(f.dir.File("out.bin"))) << ext;
    EXPECT_EQ(f.original, ReadFile(target)) << ext;

    Bytes header(512, 0x77), headered(header);
    headered.insert(headered.end(), f.original.begin(), f.original.end());
    WriteFile(target, headered);
    r = RunProgram(ZELP_BIN, {"apply", patch, target, "--header", "--backup", "--force"});
    EXPECT_EQ(0, r.exitCode) << ext << r.err;
    header.insert(header.end(), f.modified.begin(), f.modified.end());
    EXPECT_EQ(header, ReadFile(target)) << ext;
    EXPECT_EQ(headered, ReadFile(target + ".bak")) << ext;
  }
}

TEST(CliFormats, InfoAndCheckTellTheFormatAndTheVerdict) {
  Files f;
  WriteFile(f.dir.File("notes.txt"), Bytes{'H', 'i', '\n'});
  const std::string bps = f.dir.File("n.bps");
  auto r = RunProgram(ZELP_BIN, {"create", f.dir.File("orig.bin"), f.dir.File("mod.bin"), "-o", bps,
                                 "--description", f.dir.File("notes.txt")});
  ASSERT_EQ(0, r.exitCode) << r.err;
  r = RunProgram(ZELP_BIN, {"info", bps});
  EXPECT_EQ(0, r.exitCode);
  EXPECT_EQ(0u, r.out.find("format: BPS\nsource: 300,000 bytes, CRC-32 ")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("\n\nHi\n")) << r.out;
  const struct {
    const char* target;
    int code;
    const char* says;
  } cases[] = {
      {"orig.bin", 0, "zelp: the patch applies to this file (CRC-32 "},
      {"mod.bin", 3, "zelp: this file is already patched"},
      {"notes.txt", 3, "zelp: expected CRC-32 "},
  };
  for (const auto& c : cases) {
    r = RunProgram(ZELP_BIN, {"check", bps, f.dir.File(c.target)});
    EXPECT_EQ(c.code, r.exitCode) << c.target;
    // The verdict first: check explains, with no line of the program's.
    EXPECT_EQ(0u, (c.code ? r.err : r.out).find(c.says)) << c.target << r.out << r.err;
  }
}

// A damaged patch, a patch for another file, a result that cannot be
// written: the target keeps its bytes every time.
TEST(CliFormats, RefusalsLeaveTheTargetUnchanged) {
  Files f;
  for (const char* ext : kFormats) {
    const std::string patch = f.Patch(ext), target = f.dir.File("t.bin");
    Bytes whole = ReadFile(patch);
    std::vector<Bytes> damaged;
    for (size_t cut : {size_t{3}, whole.size() / 2, whole.size() - 1})
      damaged.emplace_back(whole.begin(), whole.begin() + cut);
    if (std::string(ext) != "ips") {  // IPS has no CRC-32 of its own to catch a flip
      damaged.push_back(whole);
      damaged.back()[whole.size() / 2] ^= 1;
    }
    for (const Bytes& d : damaged) {
      WriteFile(f.dir.File("bad"), d);
      WriteFile(target, f.original);
      auto r = RunProgram(ZELP_BIN, {"apply", f.dir.File("bad"), target});
      EXPECT_NE(0, r.exitCode) << ext << " " << d.size();
      EXPECT_EQ(f.original, ReadFile(target)) << ext << " " << d.size();
    }
  }
  const std::string other = f.dir.File("other.bin");
  WriteFile(other, Bytes(1000, 9));
  auto r = RunProgram(ZELP_BIN, {"apply", f.Patch("bps"), other});
  EXPECT_EQ(3, r.exitCode);
  EXPECT_EQ(0u, r.err.find("目标文件没有通过CRC32验证\nzelp: expected CRC-32 ")) << r.err;
  EXPECT_EQ(Bytes(1000, 9), ReadFile(other));
}

TEST(CliFormats, CreateRefusesWhatTheFormatOrTheNameCannotHold) {
  Files f;
  Bytes big(17 << 20, 0), changed(big);
  changed[16 << 20] = 1;
  WriteFile(f.dir.File("big"), big);
  WriteFile(f.dir.File("big2"), changed);
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{f.dir.File("big"), f.dir.File("big2"), "-o", f.dir.File("x.ips")},
       "zelp: IPS cannot hold changes at offsets of 16 MiB or more (the first is at byte "
       "16777216); write a UPS or BPS patch instead\n"},
      {{f.dir.File("orig.bin"), f.dir.File("mod.bin"), "-o", f.dir.File("hero.ips"), "--format",
        "bps"},
       "zelp: '" + f.dir.File("hero.ips") +
           "' is named like an IPS patch, but --format bps writes a BPS patch; give it a name "
           "that matches, or leave out --format\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"create"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = RunProgram(ZELP_BIN, args);
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(c.says, r.err);
  }
  EXPECT_FALSE(std::filesystem::exists(f.dir.File("x.ips")));
  EXPECT_FALSE(std::filesystem::exists(f.dir.File("hero.ips")));
}

// BPS -> ZELP -> UPS -> IPS: each applies to the original and gives the
// modified file; the BPS's text metadata becomes the ZELP description.
TEST(CliFormats, ConvertKeepsTheResult) {
  Files f;
  WriteFile(f.dir.File("notes.txt"), Bytes{'H', 'i', '\n'});
  std::string from = f.dir.File("n.bps");
  ASSERT_EQ(0, RunProgram(ZELP_BIN, {"create", f.dir.File("orig.bin"), f.dir.File("mod.bin"), "-o",
                                     from, "--description", f.dir.File("notes.txt")})
                   .exitCode);
  for (const char* ext : {"zelp", "ups", "ips", "bps"}) {
    const std::string to = f.dir.File(std::string("c.") + ext);
    auto r = RunProgram(ZELP_BIN, {"convert", from, f.dir.File("orig.bin"), "-o", to});
    ASSERT_EQ(0, r.exitCode) << ext << r.err;
    r = RunProgram(ZELP_BIN, {"apply", to, f.dir.File("orig.bin"), "-o", f.dir.File("out.bin")});
    EXPECT_EQ(0, r.exitCode) << ext << r.err;
    EXPECT_EQ(f.modified, ReadFile(f.dir.File("out.bin"))) << ext;
    if (std::string(ext) == "zelp") {
      EXPECT_NE(std::string::npos, RunProgram(ZELP_BIN, {"info", to}).out.find("\n\nHi\n"));
    }
    from = to;
  }
  EXPECT_FALSE(std::filesystem::exists(f.dir.File("c.bps.zelp-modified")));
}

// The checksums catalogues list: `check` prints the target's, `apply
// --checksums` the result's (here both "abc": the well-known values).
TEST(CliFormats, ChecksumsOfTheTargetAndTheResult) {
  testutil::TempDir dir;
  const std::string ips = dir.File("abc.ips"), abc = dir.File("abc"), xyz = dir.File("xyz");
  const std::string patch(
      "PATCH\0\0\0\0\x03"
      "abcEOF",
      16);
  WriteFile(ips, Bytes(patch.begin(), patch.end()));
  WriteFile(abc, Bytes{'a', 'b', 'c'});
  WriteFile(xyz, Bytes{'x', 'y', 'z'});
  const std::string sums =
      "CRC-32 352441C2, MD5 900150983cd24fb0d6963f7d28e17f72, SHA-1 "
      "a9993e364706816aba3e25717850c26c9cd0d89d\n";
  auto r = RunProgram(ZELP_BIN, {"check", ips, abc});
  EXPECT_NE(std::string::npos, r.out.find("zelp: this file: " + sums)) << r.out;
  r = RunProgram(ZELP_BIN, {"info", abc});  // no patch: the file's own checksums
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ("zelp: this file: " + sums, r.out);
  ASSERT_EQ(0, RunProgram(ZELP_BIN, {"create", xyz, abc, "-o", dir.File("p.zelp")}).exitCode);
  for (const std::string& p : {ips, dir.File("p.zelp")}) {
    r = RunProgram(ZELP_BIN, {"apply", p, xyz, "-o", dir.File("out"), "--checksums"});
    EXPECT_EQ(0u, r.out.find("补丁成功\n")) << r.out;
    EXPECT_EQ(r.out.size() - sums.size(), r.out.rfind("zelp: the result: " + sums) + 18) << r.out;
  }
}
