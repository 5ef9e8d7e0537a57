// Where `zelp create` and `zelp pack` put their output: through symlinks to
// the real file (never replacing the link), with the mode of the file they
// replace, under long names, to standard output with "-", and never leaving
// a temporary file behind, even when interrupted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "file/crc32.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

mode_t Umask() {
  mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

// Names left in `dir` that look like an output's temporary file.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name.rfind(".zelp-", 0) == 0) names.push_back(name);
  }
  return names;
}

struct Inputs {
  TempDir dir;
  Bytes reference;  // the patch, as made into a plain new file
  Inputs() {
    Bytes a = testutil::RandomBytes(30000, 5), b = a;
    for (size_t i = 0; i < b.size(); i += 997) b[i] ^= 0x33;
    WriteFile(dir.File("a.bin"), a);
    WriteFile(dir.File("b.bin"), b);
    auto r = Create(dir.File("ref.zelp"));
    EXPECT_EQ(0, r.exitCode) << r.err;
    reference = ReadFile(dir.File("ref.zelp"));
  }
  testutil::RunResult Create(const std::string& out) const {
    return RunProgram(ZELP_BIN, {"create", dir.File("a.bin"), dir.File("b.bin"), "-o", out});
  }
};

}  // namespace

TEST(CliOutput, WrittenThroughLinksWithTheModeKept) {
  Inputs in;
  const TempDir& d = in.dir;
  fs::create_directory(d.File("real"));
  WriteFile(d.File("real/old.zelp"), {1, 2, 3});
  ::chmod(d.File("real/old.zelp").c_str(), 0640);
  fs::create_symlink("real/old.zelp", d.File("link"));
  fs::create_symlink("link", d.File("chain"));
  fs::create_symlink("real/new.zelp", d.File("dangling"));
  const std::string longName(250, 'n');  // the longest a folder entry may be is 255
  const mode_t fresh = 0666 & ~Umask();
  struct Case {
    std::string output, written;
    mode_t mode;
  } cases[] = {
      {d.File("link"), d.File("real/old.zelp"), 0640},
      {d.File("chain"), d.File("real/old.zelp"), 0640},
      {d.File("dangling"), d.File("real/new.zelp"), fresh},
      {d.File(longName), d.File(longName), fresh},
      {d.File(longName), d.File(longName), fresh},  // replacing it too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    auto r = in.Create(c.output);
    ASSERT_EQ(0, r.exitCode) << r.err;
    EXPECT_EQ(in.reference, ReadFile(c.written));
    EXPECT_EQ(c.mode, ModeOf(c.written));
  }
  for (const char* link : {"link", "chain", "dangling"})
    EXPECT_TRUE(fs::is_symlink(d.File(link))) << link << " was replaced";
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(d.path()));
}

TEST(CliOutput, DashIsStandardOutput) {
  Inputs in;
  auto r = in.Create("-");
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(in.reference, Bytes(r.out.begin(), r.out.end()));
  EXPECT_EQ(0u, r.err.find("zelp: wrote patch '-': ")) << r.err;
  EXPECT_FALSE(fs::exists("-"));

  WriteFile(in.dir.File("stub"), ReadFile(ZELP_FAKE_STUB));
  auto packed =
      RunProgram(ZELP_BIN, {"pack", in.dir.File("stub"), in.dir.File("ref.zelp"), "-o", "-"});
  ASSERT_EQ(0, packed.exitCode) << packed.err;
  auto made = RunProgram(
      ZELP_BIN, {"pack", in.dir.File("stub"), in.dir.File("ref.zelp"), "-o", in.dir.File("prog")});
  ASSERT_EQ(0, made.exitCode) << made.err;
  EXPECT_EQ(ReadFile(in.dir.File("prog")), Bytes(packed.out.begin(), packed.out.end()));
}

TEST(CliOutput, InterruptedRunsLeaveNoTemporaryFile) {
  // Large enough inputs that most signals land while the output is built.
  TempDir d;
  Bytes a = testutil::RandomBytes(32 << 20, 7), b = testutil::RandomBytes(32 << 20, 8);
  WriteFile(d.File("a.bin"), a);
  WriteFile(d.File("b.bin"), b);
  a.clear();
  b.clear();
  testutil::RunOptions direct;
  direct.wrap = false;
  int interrupted = 0;
  for (const char* signal : {"INT", "TERM"}) {
    for (const char* after : {"0.01", "0.02", "0.03", "0.05", "0.07"}) {
      auto r = RunProgram("timeout",
                          {"-s", signal, after, ZELP_BIN, "create", d.File("a.bin"),
                           d.File("b.bin"), "-o", d.File("p.zelp")},
                          direct);
      interrupted += r.exitCode != 0;  // timeout passes the signal's death on
      EXPECT_EQ(std::vector<std::string>{}, Leftovers(d.path())) << signal << " after " << after;
    }
  }
  EXPECT_GT(interrupted, 0) << "no run was interrupted: the inputs are too small";
}

// The copies -o and --backup make of a sparse target keep its holes, and
// --backup makes none of a target it could not write.
TEST(CliOutput, CopiesKeepHolesAndBackupsNeedAWritableTarget) {
  TempDir d;
  const std::string t = d.File("t");
  WriteFile(t, Bytes(4096, 1));
  fs::resize_file(t, 64 << 20);
  const Bytes original = ReadFile(t);
  PatchBuilder p;
  p.Header(64 << 20, zelp::Crc32Of(original.data(), original.size())).Abs(32 << 20, {7}).End();
  WriteFile(d.File("p"), p.bytes);
  auto allocated = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_blocks) * 512 : -1;
  };
  auto r = RunProgram(ZELP_BIN, {"apply", d.File("p"), t, "-o", d.File("out")});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_LT(allocated(d.File("out")), 1 << 20);
  r = RunProgram(ZELP_BIN, {"apply", "--backup", d.File("p"), t});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_LT(allocated(t + ".bak"), 1 << 20);
  EXPECT_TRUE(ReadFile(t + ".bak") == original);

  // Read-only (for root, the target of another user that nobody may write).
  fs::remove(t + ".bak");
  fs::permissions(t, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(d.File(""), fs::perms::all);
  testutil::RunOptions as;
  if (::geteuid() == 0) as.uid = 65534;
  r = RunProgram(ZELP_BIN, {"apply", "--backup", d.File("p"), t}, as);
  EXPECT_EQ(1, r.exitCode);
  EXPECT_NE(std::string::npos, r.err.find("no backup was made")) << r.err;
  EXPECT_FALSE(fs::exists(t + ".bak"));
}

// A signal that arrives in the very call that creates the temporary file
// (strace delivers it there) must still find the file removed.
TEST(CliOutput, ASignalAtTheTemporaryFilesCreationLeavesNothing) {
  testutil::RunOptions direct;
  direct.wrap = false;
  TempDir d;
  WriteFile(d.File("a.bin"), testutil::RandomBytes(100000, 3));
  WriteFile(d.File("b.bin"), testutil::RandomBytes(100000, 4));
  // (LeakSanitizer, in the sanitizer build, cannot work under ptrace.)
  const std::vector<std::string> create = {
      "-E", "ASAN_OPTIONS=detect_leaks=0", ZELP_BIN, "create", d.File("a.bin"), d.File("b.bin"),
      "-o"};
  // Which of zelp's openat calls creates it (the one with O_EXCL).
  std::vector<std::string> args = {"-o", d.File("trace"), "-e", "trace=openat"};
  args.insert(args.end(), create.begin(), create.end());
  args.push_back(d.File("first.zelp"));
  auto traced = RunProgram("strace", args, direct);
  if (traced.exitCode != 0) GTEST_SKIP() << "strace cannot run here: " << traced.err;
  auto trace = ReadFile(d.File("trace"));
  std::istringstream lines(std::string(trace.begin(), trace.end()));
  std::string line;
  int call = 0, creating = 0;
  while (std::getline(lines, line) && !creating)
    if (line.rfind("openat(", 0) == 0 && ++call && line.find("O_EXCL") != std::string::npos)
      creating = call;
  ASSERT_GT(creating, 0) << std::string(trace.begin(), trace.end());
  for (const char* signal : {"SIGINT", "SIGTERM", "SIGHUP"}) {
    args = {
        "-o", "/dev/null",
        "-e", "trace=openat",
        "-e", std::string("inject=openat:signal=") + signal + ":when=" + std::to_string(creating)};
    args.insert(args.end(), create.begin(), create.end());
    args.push_back(d.File("p.zelp"));
    auto r = RunProgram("strace", args, direct);
    EXPECT_NE(0, r.exitCode) << signal << ": the run was not interrupted";
    EXPECT_EQ(std::vector<std::string>{}, Leftovers(d.path())) << signal;
    EXPECT_FALSE(fs::exists(d.File("p.zelp"))) << signal;
  }
}
