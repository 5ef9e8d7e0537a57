#include "support/test_util.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "common/text.h"
#include "engine/explain.h"

namespace testutil {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zelp-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::u16string U16(const std::string& utf8) { return zelp::PathFromNative(utf8); }

static void Record(void*, const char16_t* text, void* context) {
  static_cast<ReportLog*>(context)->texts.emplace_back(text);
}

ReportLog::ReportLog() : route_(Record, this) {}
ReportLog::~ReportLog() = default;

std::u16string ReportLog::Count() const {
  std::string n = std::to_string(texts.size());
  return std::u16string(n.begin(), n.end());
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::string Hex8(uint32_t v) {
  char s[9];
  std::snprintf(s, sizeof s, "%08X", v);
  return s;
}

std::string Said(zelp::Outcome o, const std::string& tail) {
  return zelp::Utf16ToUtf8(zelp::ReportText(o)) +
         "\nzelp: " + zelp::Utf16ToUtf8(zelp::Explanation(o, zelp::Language::kEnglish)) + tail +
         "\n";
}

bool SaysPatched(const std::string& out) { return out.rfind("补丁成功\nzelp: patched '", 0) == 0; }

}  // namespace testutil

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace testutil {

std::vector<std::string> WrapperFromEnvironment() {
  std::vector<std::string> words;
  if (const char* w = std::getenv("ZELP_WRAPPER")) {
    std::istringstream in(w);
    for (std::string word; in >> word;) words.push_back(word);
  }
  return words;
}

Running::Running(const std::string& program, const std::vector<std::string>& args,
                 const RunOptions& options)
    : dir_(new TempDir) {
  std::string outPath = dir_->File("out"), errPath = dir_->File("err");
  std::vector<std::string> words =
      options.wrap ? WrapperFromEnvironment() : std::vector<std::string>{};
  words.push_back(program);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0), dup2(o, 1), dup2(e, 2);
    if (options.fileSizeLimit) {
      // A full disk: writes past the limit fail with EFBIG instead of killing.
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim = {options.fileSizeLimit, options.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
    }
    if (options.uid >= 0) {
      // The group first: once the user is dropped it cannot be changed.
      struct passwd* pw = getpwuid(static_cast<uid_t>(options.uid));
      gid_t gid = pw ? pw->pw_gid : static_cast<gid_t>(options.uid);
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(options.uid) != 0) _exit(125);
    }
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (int i = 0; i < 3; ++i)
      options.locale[i] ? setenv(names[i], options.locale[i], 1) : unsetenv(names[i]);
    execvp(argv[0], argv.data());
    _exit(127);
  }
}

Running::~Running() {
  if (pid_ > 0) Wait();
}

RunResult Running::Wait() {
  RunResult r;
  if (pid_ <= 0) return r;
  int status = 0;
  struct rusage usage {};
  wait4(pid_, &status, 0, &usage);
  pid_ = -1;
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.maxRssKiB = usage.ru_maxrss;
  auto o = ReadFile(dir_->File("out")), e = ReadFile(dir_->File("err"));
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options) {
  return Running(program, args, options).Wait();
}

}  // namespace testutil
