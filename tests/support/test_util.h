// Small helpers shared by the native tests: temporary folders, whole-file
// reads and writes, and a report sink that records texts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/report.h"
#include "engine/outcome.h"

namespace testutil {

// A fresh folder under the system temp folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::u16string U16(const std::string& utf8);

// Records every Report while alive, then restores the previous sink.
class ReportLog {
 public:
  ReportLog();
  ~ReportLog();
  std::vector<std::u16string> texts;
  // The single text reported, or "" (fails the caller's expectation if not one).
  std::u16string Only() const {
    return texts.size() == 1 ? texts[0] : u"<" + Count() + u" reports>";
  }

 private:
  std::u16string Count() const;
  zelp::ReportRoute route_;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

// Eight upper-case hexadecimal digits, as zelp shows a CRC-32.
std::string Hex8(uint32_t v);

// What zelp prints for an outcome: its report line, then the English
// explanation as a "zelp: " line ending in `tail` and a line break.
std::string Said(zelp::Outcome o, const std::string& tail = "");
// Whether standard output is that of a successful apply: the report, then
// the line that says what was done.
bool SaysPatched(const std::string& out);

}  // namespace testutil

namespace testutil {

struct RunResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out, err;
  long maxRssKiB = 0;  // the program's peak resident memory
};
struct RunOptions {
  uint64_t fileSizeLimit = 0;  // RLIMIT_FSIZE of the child (SIGXFSZ ignored); 0: none
  bool wrap = true;            // run under $ZELP_WRAPPER (e.g. "valgrind -q --error-exitcode=99")
  int uid = -1;                // run as this user (and its group), when started as root
  // The child's LC_ALL, LC_MESSAGES and LANG, in that order; null unsets.
  // Unset by default, whatever the tests run under: English.
  const char* locale[3] = {nullptr, nullptr, nullptr};
};
// Runs `program args...` directly (no shell), capturing stdout and stderr.
// When ZELP_WRAPPER is set, its words are put before the program.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options = {});

// A program started in the background (for runs that race each other).
class Running {
 public:
  Running(const std::string& program, const std::vector<std::string>& args,
          const RunOptions& options = {});
  ~Running();
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  RunResult Wait();

 private:
  std::unique_ptr<TempDir> dir_;
  int pid_ = -1;
};

}  // namespace testutil
