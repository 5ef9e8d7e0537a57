// The rollback journal through the built zelp: runs killed at random moments
// leave a target that its journal puts back, and a journal is never applied
// to a file that is not the one its run changed, nor trusted when someone
// else could have put it there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "engine/journal.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "file/file.h"
#include "support/fault_file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::U16;
using testutil::WriteFile;
namespace fs = std::filesystem;

namespace {

// Fewer under the sanitizers, which check each run, not the statistics.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kRuns = 5;
constexpr bool kSanitized = true;  // nothing can be preloaded before its runtime
#else
constexpr int kRuns = 25;
constexpr bool kSanitized = false;
#endif

// A patch with many records over a target of `size` bytes, and its result.
struct Case {
  std::vector<uint8_t> original, patch, patched;
};

Case MakeCase(const testutil::TempDir& dir, size_t size, int64_t newSize) {
  Case c;
  c.original = testutil::RandomBytes(size, 5);
  PatchBuilder p;
  p.Header(newSize, zelp::Crc32Of(c.original.data(), c.original.size()));
  std::mt19937 rng(6);
  for (uint64_t at = 0; at + 64 < size + size / 8; at += 500 + rng() % 4000)
    p.Abs(at, std::vector<uint8_t>(1 + rng() % 64, static_cast<uint8_t>(rng())));
  p.End();
  c.patch = p.bytes;
  WriteFile(dir.File("p"), c.patch);
  WriteFile(dir.File("t"), c.original);
  EXPECT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
  c.patched = ReadFile(dir.File("t"));
  return c;
}

// What the journal of the file at `path` is named.
std::string JournalOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(0, ::stat(path.c_str(), &st));
  char name[64];
  std::snprintf(name, sizeof name, ".zelp-journal-%016llx-%016llx",
                static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  return (fs::canonical(path).parent_path() / name).string();
}

// A run on the file at `path` stopped after `steps` changes of the target,
// as a killed one is: its journal stays, nothing is put back.
void Interrupt(const std::string& patch, const std::string& path, int steps) {
  CKOVA_File p, t;
  ASSERT_EQ(1, zelp::Open(U16(patch).c_str(), p, zelp::kModeRead, zelp::kShareRead));
  ASSERT_EQ(1, zelp::Open(U16(path).c_str(), t, zelp::kModeReadWrite, zelp::kShareRead));
  Power power;
  power.stopAt = steps;
  Power* on = &power;
  CrashFile target(t, &on);
  zelp::FileJournalSpot spot(U16(path).c_str(), t);
  testutil::ReportLog quiet;
  auto stub = std::make_unique<CPatchStub>(0);
  stub->ApplyOpened(p, target, nullptr, &spot);
  ASSERT_TRUE(power.Off());
}

TEST(CliJournal, KilledRunsArePutBackByTheJournal) {
  testutil::TempDir dir;
  for (int64_t newSize : {int64_t{12} << 20, int64_t{5} << 20}) {  // growing, then cutting
    Case c = MakeCase(dir, 8 << 20, newSize);
    auto start = std::chrono::steady_clock::now();
    WriteFile(dir.File("t"), c.original);
    ASSERT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
    std::mt19937 rng(7);
    int original = 0, patched = 0, putBack = 0;
    for (int i = 0; i < kRuns; ++i) {  // 50 in all
      WriteFile(dir.File("t"), c.original);
      pid_t pid = ::fork();
      if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1), ::dup2(null, 2);
        ::execl(ZELP_BIN, ZELP_BIN, "apply", dir.File("p").c_str(), dir.File("t").c_str(), nullptr);
        ::_exit(127);
      }
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % (took + 1)));
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      // What the next run does first: the target is the original or the
      // patched file, never a mix.
      {
        CKOVA_File target;
        ASSERT_EQ(1, zelp::Open(U16(dir.File("t")).c_str(), target, zelp::kModeReadWrite,
                                zelp::kShareRead));
        zelp::FileJournalSpot spot(U16(dir.File("t")).c_str(), target);
        auto state = zelp::RecoverFromJournal(spot, target).state;
        ASSERT_TRUE(state == zelp::Recovered::kNone || state == zelp::Recovered::kRolledBack ||
                    state == zelp::Recovered::kFinished)
            << "run " << i << ": " << static_cast<int>(state);
        putBack += state != zelp::Recovered::kNone;
      }
      const auto now = ReadFile(dir.File("t"));
      ASSERT_TRUE(now == c.original || now == c.patched) << "run " << i << ": a mixed file";
      (now == c.original ? original : patched)++;
      // And a run afterwards finishes the job.
      if (now == c.original) {
        ASSERT_EQ(0, RunProgram(ZELP_BIN, {"apply", dir.File("p"), dir.File("t")}).exitCode);
        ASSERT_TRUE(ReadFile(dir.File("t")) == c.patched) << "run " << i;
      }
    }
    std::printf(
        "killed runs (size %lld): %d left the original, %d the patched file; %d journals "
        "found and resolved\n",
        static_cast<long long>(newSize), original, patched, putBack);
  }
}

// After an interrupted run (or none), something happens to the file, its
// journal or its folder; then a command runs. The journal is applied only to
// the file its run changed, and never followed through a link.
struct Hostile {
  const char* name;
  bool interrupted;  // a run on `t` was stopped midway first
  std::function<void(testutil::TempDir&, const Case&)> then;
  std::vector<std::string> args;  // "@x" is the file x of the folder
  int exitCode;
  const char* says;  // in what the command printed
  enum Ends { kPatched, kAsLeft, kOther } ends;
  bool root = false;           // needs root (another user, a mount)
  std::string target = "t";    // the name the command is given
  const char* lang = nullptr;  // LANG of the run
  bool sigint = false;         // the run is asked to end at its first change of a file
};

const std::string kLongName(250, 'n');

const std::vector<uint8_t> kOther = testutil::RandomBytes(1 << 20, 99);

void Flip(const std::string& path, long at) {
  auto bytes = ReadFile(path);
  bytes[at < 0 ? bytes.size() + at : at] ^= 0x10;
  WriteFile(path, bytes);
}

const Hostile kHostile[] = {
    {"another file copied over it",
     true,
     [](auto& d, auto&) { WriteFile(d.File("t"), kOther); },
     {"apply", "@p", "@t"},
     3,
     "was not made for this file",
     Hostile::kOther},
    {"another file moved to its name",
     true,
     [](auto& d, auto&) {
       WriteFile(d.File("n"), kOther);
       fs::rename(d.File("n"), d.File("t"));
     },
     {"apply", "@p", "@t"},
     3,
     "目标文件没有通过CRC32验证",
     Hostile::kOther},
    {"journal bit-flipped",
     true,
     [](auto& d, auto&) { Flip(JournalOf(d.File("t")), 100); },
     {"apply", "@p", "@t"},
     3,
     "is damaged; it was set aside as",
     Hostile::kAsLeft},
    {"journal cut short",
     true,
     [](auto& d, auto&) { fs::resize_file(JournalOf(d.File("t")), 200); },
     {"apply", "@p", "@t"},
     3,
     "is damaged; it was set aside as",
     Hostile::kAsLeft},
    {"journal is a link",
     true,
     [](auto& d, auto&) {
       std::string j = JournalOf(d.File("t"));
       fs::rename(j, d.File("j"));
       fs::create_symlink(d.File("j"), j);
     },
     {"apply", "@p", "@t"},
     3,
     "is a link, has another name",
     Hostile::kAsLeft},
    {"journal planted by another user",
     true,
     [](auto& d, auto&) {
       fs::permissions(d.File(""), fs::perms::all | fs::perms::sticky_bit);
       ASSERT_EQ(0, ::chown(JournalOf(d.File("t")).c_str(), 65534, 65534));
     },
     {"apply", "@p", "@t"},
     3,
     "not the target owner's",
     Hostile::kAsLeft,
     true},
    {"run on the real name after a run through a link",
     false,
     [](auto& d, auto& c) {
       fs::create_directory(d.File("links"));
       fs::create_symlink(d.File("t"), d.File("links/t"));
       Interrupt(d.File("p"), d.File("links/t"), 40);
       ASSERT_FALSE(ReadFile(d.File("t")) == c.original);
     },
     {"apply", "@p", "@t"},
     0,
     "the target was put back",
     Hostile::kPatched},
    {"renamed after the crash",
     true,
     [](auto& d, auto&) { fs::rename(d.File("t"), d.File("t2")); },
     {"apply", "@p", "@t2"},
     0,
     "the target was put back",
     Hostile::kPatched,
     false,
     "t2"},
    {"a 250-byte name",
     false,
     [](auto& d, auto&) {
       fs::rename(d.File("t"), d.File(kLongName));
       Interrupt(d.File("p"), d.File(kLongName), 40);
     },
     {"apply", "@p", "@" + kLongName},
     0,
     "the target was put back",
     Hostile::kPatched,
     false,
     kLongName},
    {"a 250-byte name, no journal yet",
     false,
     [](auto& d, auto&) { fs::rename(d.File("t"), d.File(kLongName)); },
     {"apply", "@p", "@" + kLongName},
     0,
     "补丁成功",
     Hostile::kPatched,
     false,
     kLongName},
    {"link planted where the journal is made",
     false,
     [](auto& d, auto&) {
       WriteFile(d.File("victim"), {1, 2, 3});
       fs::create_symlink(d.File("victim"), JournalOf(d.File("t")) + "-new");
     },
     {"apply", "@p", "@t"},
     0,
     "补丁成功",
     Hostile::kPatched},
    {"no journal can be made there",
     false,
     [](auto& d, auto&) { fs::create_directory(JournalOf(d.File("t")) + "-new"); },
     {"apply", "@p", "@t"},
     0,
     "no journal was kept for this run",
     Hostile::kPatched},
    {"check after a kill",
     true,
     nullptr,
     {"check", "@p", "@t"},
     0,
     "the next apply puts the target back first",
     Hostile::kAsLeft},
    {"-o after a kill",
     true,
     nullptr,
     {"apply", "@p", "@t", "-o", "@out"},
     0,
     "the copy is made from the target as it was",
     Hostile::kAsLeft},
    {"--backup after a kill",
     true,
     nullptr,
     {"apply", "--backup", "@p", "@t"},
     0,
     "the original is kept in",
     Hostile::kPatched},
    {"apply after a kill, said in Chinese",
     true,
     nullptr,
     {"apply", "@p", "@t"},
     0,
     "上次运行被中断，留下了日志 '",
     Hostile::kPatched,
     false,
     "t",
     "zh_CN.UTF-8"},
    {"Ctrl-C while the journal puts the target back",
     true,
     nullptr,
     {"apply", "@p", "@t"},
     0,
     "the target was put back",
     Hostile::kPatched,
     false,
     "t",
     nullptr,
     true},
    {"Ctrl-C while --backup puts the target back",
     true,
     nullptr,
     {"apply", "--backup", "@p", "@t"},
     0,
     "the original is kept in",
     Hostile::kPatched,
     false,
     "t",
     nullptr,
     true},
};

TEST(CliJournal, AJournalIsOnlyEverAppliedToItsOwnFile) {
  testutil::TempDir dir;
  const Case c = MakeCase(dir, 1 << 20, (1 << 20) + 5000);
  for (const Hostile& h : kHostile) {
    if (h.root && ::geteuid() != 0) {
      std::printf("skipped (needs root): %s\n", h.name);
      continue;
    }
    if (h.sigint && kSanitized) {
      std::printf("skipped (sanitizer build): %s\n", h.name);
      continue;
    }
    testutil::TempDir d;
    WriteFile(d.File("p"), c.patch);
    WriteFile(d.File("t"), c.original);
    if (h.interrupted) Interrupt(d.File("p"), d.File("t"), 40);
    if (h.then) h.then(d, c);
    const std::string last = d.File(h.target);
    const auto before = ReadFile(last);
    std::vector<std::string> args;
    for (const std::string& a : h.args) args.push_back(a[0] == '@' ? d.File(a.substr(1)) : a);
    testutil::RunOptions o;
    o.locale[2] = h.lang;
    if (h.sigint) ::setenv("LD_PRELOAD", ZELP_SIGINT_ON_WRITE, 1);
    auto r = RunProgram(ZELP_BIN, args, o);
    ::unsetenv("LD_PRELOAD");
    EXPECT_EQ(h.exitCode, r.exitCode) << h.name << "\n" << r.out << r.err;
    EXPECT_NE(std::string::npos, (r.out + r.err).find(h.says)) << h.name << "\n" << r.out << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("could not be set aside")) << h.name << "\n" << r.err;
    const auto after = ReadFile(last);
    switch (h.ends) {
      case Hostile::kPatched: EXPECT_TRUE(after == c.patched) << h.name; break;
      case Hostile::kAsLeft: EXPECT_TRUE(after == before) << h.name; break;
      case Hostile::kOther: EXPECT_TRUE(after == kOther) << h.name; break;
    }
    // Whatever was planted or damaged is still there, and untouched.
    if (fs::exists(d.File("victim"))) {
      EXPECT_EQ(3u, ReadFile(d.File("victim")).size()) << h.name;
    }
    if (fs::exists(d.File("out"))) {
      EXPECT_TRUE(ReadFile(d.File("out")) == c.patched) << h.name;
    }
    if (fs::exists(d.File("t.bak"))) {
      EXPECT_TRUE(ReadFile(d.File("t.bak")) == c.original) << h.name;
    }
  }
}

}  // namespace
