// The zelp command on POSIX: arguments are bytes, printed text is UTF-8.
#include <csignal>
#include <cstdio>

#include "cli/cli.h"
#include "common/text.h"

namespace {

class StdioConsole : public zelp::cli::Console {
 public:
  void Out(const std::u16string& text) override { failed |= !Write(stdout, text); }
  void Err(const std::u16string& text) override { failed |= !Write(stderr, text); }
  bool failed = false;  // some text could not be written

 private:
  static bool Write(FILE* f, const std::u16string& text) {
    std::string s = zelp::Utf16ToUtf8(text);
    bool ok = std::fwrite(s.data(), 1, s.size(), f) == s.size();
    return std::fflush(f) == 0 && ok;
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zelp::PathFromNative(argv[i]));
  // A closed pipe on standard output or error is a failed write, not the end
  // of the process (which could come after patching, with no report).
  std::signal(SIGPIPE, SIG_IGN);
  StdioConsole console;
  int code = zelp::cli::Run(args, console);
  if (!console.failed) return code;
  std::fputs("zelp: the report could not be written in full\n", stderr);
  return code == zelp::cli::kExitOk ? zelp::cli::kExitFailed : code;
}
