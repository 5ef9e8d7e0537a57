#include "support/test_util.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "common/text.h"

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

ReportLog::ReportLog() { old_ = zelp::SetReportSink(Record, this); }
ReportLog::~ReportLog() { zelp::SetReportSink(old_, nullptr); }

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

}  // namespace testutil

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  TempDir dir;
  std::string outPath = dir.File("out"), errPath = dir.File("err");
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0), dup2(o, 1), dup2(e, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  RunResult r;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  auto o = ReadFile(outPath), e = ReadFile(errPath);
  r.out.assign(o.begin(), o.end());
  r.err.assign(e.begin(), e.end());
  return r;
}

}  // namespace testutil
