// Hostile names and files given to `zelp apply` on Linux: each gets its own
// message (or works, where it should), and nothing but the named target ever
// changes. Also a real full disk, made with a file-size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "common/text.h"
#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

const std::string kTargetOpen = testutil::Said(zelp::Outcome::kTargetOpen);
const std::string kPatchOpen = testutil::Said(zelp::Outcome::kPatchOpen);
const std::string kResize = testutil::Said(zelp::Outcome::kResize);

const std::vector<uint8_t> kOriginal = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const std::vector<uint8_t> kPatched = {1, 2, 0x11, 0x22, 5, 6, 7, 8};

std::vector<uint8_t> SamplePatch() {
  PatchBuilder p;
  p.Header(8, zelp::Crc32Of(kOriginal.data(), kOriginal.size())).Abs(2, {0x11, 0x22}).End();
  return p.bytes;
}

// Every regular file under `root` (symlinks not followed) and its bytes.
std::map<std::string, std::vector<uint8_t>> Snapshot(const std::string& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (auto it = std::filesystem::recursive_directory_iterator(root);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    if (it->is_symlink()) {
      files[it->path().string()] = {'-', '>'};
      auto to = std::filesystem::read_symlink(it->path()).string();
      files[it->path().string()].insert(files[it->path().string()].end(), to.begin(), to.end());
    } else if (it->is_regular_file()) {
      files[it->path().string()] = ReadFile(it->path().string());
    } else {
      files[it->path().string()] = {'?'};
    }
  }
  return files;
}

// A folder holding a patch and a target, plus decoys that must never change.
struct Scene {
  TempDir dir;
  std::string patch, target;
  Scene(const std::string& patchName = "p.zelp", const std::string& targetName = "t.bin") {
    patch = dir.File(patchName);
    target = dir.File(targetName);
    WriteFile(patch, SamplePatch());
    WriteFile(target, kOriginal);
    WriteFile(dir.File("decoy.bin"), kOriginal);
  }
};

// Runs `zelp apply patch target` and checks its outcome and that the files
// in the folder are as before except, after success, the target.
void ExpectApply(Scene& s, const std::vector<std::string>& args, int code, const std::string& err,
                 const std::string& changed = "") {
  auto before = Snapshot(s.dir.path());
  auto r = RunProgram(ZELP_BIN, args);
  EXPECT_EQ(code, r.exitCode) << r.err;
  EXPECT_EQ(code == 0, testutil::SaysPatched(r.out)) << r.out;
  if (code != 0) {
    EXPECT_EQ("", r.out);
  }
  EXPECT_EQ(err, r.err);
  auto after = Snapshot(s.dir.path());
  if (!changed.empty()) {
    ASSERT_TRUE(after.count(changed)) << changed;
    EXPECT_EQ(kPatched, after[changed]) << changed;
    before.erase(changed);
    after.erase(changed);
  }
  EXPECT_TRUE(before == after) << "a file other than the target changed";
}

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  while (n--) out += s;
  return out;
}

}  // namespace

TEST(CliHostile, NamesThatWork) {
  struct Case {
    const char* what;
    std::string patch, target;
  } cases[] = {
      {"CJK and spaces", "补丁 文件.zelp", "目标 ROM (日本).bin"},
      {"non-UTF-8 bytes", "p\xff\xfe.zelp", "t\xff\xfe.bin"},
      {"bytes that look like an escaped surrogate", "p\xed\xb2\x80.zelp", "t\xed\xb2\x80.bin"},
      {"a lone continuation byte", "\x80", "\xbf"},
      {"shell metacharacters", "p;$(x)`y`'\".zelp", "t *?[a].bin"},
      {"a line feed", "p\n.zelp", "t\r\n.bin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Scene s(c.patch, c.target);
    // Names that decode alike must not be confused with these.
    WriteFile(s.dir.File("tÿþ.bin"), kOriginal);
    ExpectApply(s, {"apply", s.patch, s.target}, 0, "", s.target);
  }
}

TEST(CliHostile, LeadingDash) {
  Scene s("-p.zelp", "-t.bin");
  // Taken for options: refused as usage, nothing opened.
  {
    auto before = Snapshot(s.dir.path());
    auto r = RunProgram(ZELP_BIN, {"apply", "-p.zelp", "-t.bin"});
    EXPECT_EQ(2, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("unknown option -p.zelp\n")) << r.err;
    EXPECT_TRUE(before == Snapshot(s.dir.path()));
  }
  // After "--" they are names.
  ExpectApply(s, {"apply", "--", s.dir.File("-p.zelp"), s.dir.File("-t.bin")}, 0, "", s.target);
  WriteFile(s.target, kOriginal);
  ExpectApply(s, {"apply", "--base", "0", "--", s.patch, s.target}, 0, "", s.target);
  // A lone "-" is a name, not standard input.
  auto r = RunProgram(ZELP_BIN, {"apply", s.patch, "-"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_EQ(kTargetOpen, r.err);
  auto info = RunProgram(ZELP_BIN, {"info", "--", s.patch});
  EXPECT_EQ(0, info.exitCode) << info.err;
}

TEST(CliHostile, PathsOf259And260UnitsAndBeyond) {
  // Linux has no 260-unit limit: such paths work; one past PATH_MAX fails
  // to open and is reported as such.
  for (size_t units : {259u, 260u, 261u}) {
    for (bool cjk : {false, true}) {
      SCOPED_TRACE(std::to_string(units) + (cjk ? " with CJK" : " ASCII"));
      TempDir dir;
      std::string base = dir.path() + "/";
      size_t baseUnits = zelp::PathFromNative(base).size();
      ASSERT_LT(baseUnits + 20, units);
      // Folders of at most 60 units (a CJK unit is 3 bytes; names have 255),
      // then the file name, filling the remaining units exactly.
      std::string target = base;
      size_t left = units - baseUnits;
      const std::string unit = cjk ? "目" : "d";
      while (left > 70) {
        target += Repeat(unit, 59);
        std::filesystem::create_directory(target);
        target += "/";
        left -= 60;
      }
      target += Repeat(unit, left - 4) + ".bin";
      ASSERT_EQ(units, zelp::PathFromNative(target).size());
      WriteFile(target, kOriginal);
      std::string patch = base + "p.zelp";
      WriteFile(patch, SamplePatch());
      auto r = RunProgram(ZELP_BIN, {"apply", patch, target});
      EXPECT_EQ(0, r.exitCode) << r.err;
      EXPECT_EQ(kPatched, ReadFile(target));
    }
  }
  Scene s;
  std::string tooLong = s.dir.path() + Repeat("/.", 3000) + "/t.bin";
  ExpectApply(s, {"apply", s.patch, tooLong}, 1, kTargetOpen);
}

TEST(CliHostile, TargetsThatAreNotPlainFiles) {
  Scene s;
  std::filesystem::create_directory(s.dir.File("folder"));
  ASSERT_EQ(0, mkfifo(s.dir.File("fifo").c_str(), 0600));
  std::filesystem::create_symlink(s.patch, s.dir.File("to-patch"));
  std::filesystem::create_symlink(s.dir.File("none"), s.dir.File("dangling"));
  ASSERT_EQ(0, link(s.patch.c_str(), s.dir.File("hard-to-patch").c_str()));
  std::filesystem::create_symlink(s.dir.File("loop-b"), s.dir.File("loop-a"));
  std::filesystem::create_symlink(s.dir.File("loop-a"), s.dir.File("loop-b"));
  struct Case {
    const char* what;
    std::string target;
  } cases[] = {
      {"a directory", s.dir.File("folder")},
      {"a FIFO (must not wait for a writer)", s.dir.File("fifo")},
      {"a symlink to the patch file itself", s.dir.File("to-patch")},
      {"a hard link to the patch file", s.dir.File("hard-to-patch")},
      {"the patch file itself", s.patch},
      {"a dangling symlink", s.dir.File("dangling")},
      {"a loop of symlinks", s.dir.File("loop-a")},
      {"a file below a file", s.patch + "/t.bin"},
      {"a missing file", s.dir.File("none")},
      {"an empty name", ""},
      {"a character device", "/dev/zero"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectApply(s, {"apply", s.patch, c.target}, 1, kTargetOpen);
  }
  // The same kinds of files given as the patch.
  for (const std::string& patch :
       {s.dir.File("folder"), s.dir.File("fifo"), std::string("/dev/zero")}) {
    SCOPED_TRACE(patch);
    ExpectApply(s, {"apply", patch, s.target}, 1, kPatchOpen);
  }
  // A symlink to another regular file is followed: that file is patched.
  std::filesystem::create_symlink(s.target, s.dir.File("to-target"));
  ExpectApply(s, {"apply", s.patch, s.dir.File("to-target")}, 0, "", s.target);
}

TEST(CliHostile, LockedTargets) {
  Scene s;
  // Another program holding the target (a writer, or a reader that did not
  // allow writing) keeps it from being patched; the holder's lock is what
  // zelp's own runs take.
  for (int lock : {LOCK_EX, LOCK_SH}) {
    SCOPED_TRACE(lock == LOCK_EX ? "held for writing" : "held for reading");
    int fd = open(s.target.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, flock(fd, lock));
    ExpectApply(s, {"apply", s.patch, s.target}, 1, kTargetOpen);
    close(fd);
  }
  // A patch file that someone is writing is not read.
  {
    int fd = open(s.patch.c_str(), O_RDWR);
    ASSERT_EQ(0, flock(fd, LOCK_EX));
    ExpectApply(s, {"apply", s.patch, s.target}, 1, kPatchOpen);
    close(fd);
  }
  // Once released, the same run works.
  ExpectApply(s, {"apply", s.patch, s.target}, 0, "", s.target);
}

TEST(CliHostile, ReadOnlyFiles) {
  // Root passes every permission check: then zelp runs as the user nobody.
  testutil::RunOptions as;
  if (geteuid() == 0) {
    struct passwd* nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "running as root and there is no user nobody to run zelp as";
    as.uid = static_cast<int>(nobody->pw_uid);
  }
  Scene s;
  ASSERT_EQ(0, chmod(s.dir.path().c_str(), 0777));  // nobody may look inside
  ASSERT_EQ(0, chmod(s.patch.c_str(), 0644));
  // Nobody may not reach the build (a checkout in a private folder): it runs
  // a copy in the scene's folder.
  std::string zelp = ZELP_BIN;
  if (as.uid >= 0) {
    zelp = s.dir.File("zelp");
    WriteFile(zelp, ReadFile(ZELP_BIN));
    ASSERT_EQ(0, chmod(zelp.c_str(), 0755));
    if (RunProgram(zelp, {"info", s.patch}, as).exitCode == 127)
      GTEST_SKIP() << "the user nobody cannot run " << zelp << " (a private temporary folder?)";
  }
  struct Case {
    const char* what;
    mode_t patchMode, targetMode;
    int code;
    std::string err;
  } cases[] = {
      {"a read-only target", 0644, 0444, 1, kTargetOpen},
      {"a target nobody may touch", 0644, 0000, 1, kTargetOpen},
      {"a patch nobody may read", 0000, 0666, 1, kPatchOpen},
      {"both allowed (the control)", 0444, 0666, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(s.target, kOriginal);
    ASSERT_EQ(0, chmod(s.patch.c_str(), c.patchMode));
    ASSERT_EQ(0, chmod(s.target.c_str(), c.targetMode));
    auto r = RunProgram(zelp, {"apply", s.patch, s.target}, as);
    EXPECT_EQ(c.code, r.exitCode) << r.err;
    EXPECT_EQ(c.err, r.err);
    EXPECT_EQ(c.code == 0 ? kPatched : kOriginal, ReadFile(s.target));
  }
}

TEST(CliHostile, FullDiskUnderAFileSizeLimit) {
  // zelp runs with RLIMIT_FSIZE of 64 KiB (SIGXFSZ ignored): every attempt to
  // make the target larger than that fails as on a full disk.
  const uint64_t kLimit = 64 * 1024;
  std::vector<uint8_t> original = testutil::RandomBytes(20000, 3);
  uint32_t crc = zelp::Crc32Of(original.data(), original.size());
  struct Case {
    const char* what;
    int64_t targetSize;
    uint64_t recordAt;
    bool fits;
  } cases[] = {
      {"the target size is past the limit", 100000, 0, false},
      {"a record reaches past the limit", 20000, 70000, false},
      {"the file is cut, then a record reaches past the limit", 1000, 70000, false},
      {"just below the limit", 65536 - 3, 65530, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    PatchBuilder p;
    p.Header(c.targetSize, crc).Abs(5, {0xAB}).Abs(c.recordAt, {1, 2, 3}).End();
    WriteFile(dir.File("p.zelp"), p.bytes);
    WriteFile(dir.File("t.bin"), original);
    testutil::RunOptions limited;
    limited.fileSizeLimit = kLimit;
    auto r = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), dir.File("t.bin")}, limited);
    std::vector<uint8_t> got = ReadFile(dir.File("t.bin"));
    if (c.fits) {
      EXPECT_EQ(0, r.exitCode) << r.err;
      EXPECT_TRUE(testutil::SaysPatched(r.out)) << r.out;
      EXPECT_EQ(65536u - 3, got.size());
    } else {
      EXPECT_EQ(1, r.exitCode);
      EXPECT_EQ(kResize, r.err);
      EXPECT_TRUE(got == original) << "size " << got.size();
    }
  }
}

TEST(CliHostile, CreateNeverPutsAFileInPlaceOfASpecialOne) {
  // zelp create writes its output beside it and renames it into place; an
  // output name that is a FIFO, a folder, a device or a link to one must be
  // refused, never replaced by a plain file.
  Scene s;
  std::string original = s.dir.File("a.bin"), modified = s.dir.File("b.bin");
  WriteFile(original, kOriginal);
  WriteFile(modified, kPatched);
  ASSERT_EQ(0, mkfifo(s.dir.File("fifo").c_str(), 0600));
  std::filesystem::create_directory(s.dir.File("folder"));
  std::filesystem::create_symlink(s.dir.File("fifo"), s.dir.File("to-fifo"));
  std::vector<std::string> outputs = {s.dir.File("fifo"), s.dir.File("folder"),
                                      s.dir.File("to-fifo")};
  // A device node of our own (the null device's numbers), where we may make one.
  if (mknod(s.dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
    outputs.push_back(s.dir.File("null"));
  for (const std::string& out : outputs) {
    SCOPED_TRACE(out);
    struct stat before, after;
    ASSERT_EQ(0, lstat(out.c_str(), &before));
    auto r = RunProgram(ZELP_BIN, {"create", original, modified, "-o", out});
    EXPECT_EQ(1, r.exitCode) << r.out;
    EXPECT_NE(std::string::npos, r.err.find("cannot create")) << r.err;
    ASSERT_EQ(0, lstat(out.c_str(), &after));
    EXPECT_EQ(before.st_mode, after.st_mode) << "replaced";
    EXPECT_EQ(before.st_ino, after.st_ino) << "replaced";
  }
  // No temporary file is left behind either.
  for (const auto& entry : std::filesystem::directory_iterator(s.dir.path()))
    EXPECT_EQ(std::string::npos, entry.path().filename().string().rfind(".zelp-", 0))
        << entry.path();
  // An ordinary file is replaced as before.
  auto r = RunProgram(ZELP_BIN, {"create", original, modified, "-o", s.dir.File("decoy.bin")});
  EXPECT_EQ(0, r.exitCode) << r.err;
}
