// The zelp command on POSIX: arguments are bytes, printed text is UTF-8.
#include <errno.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "common/text.h"

namespace {

class StdioConsole : public zelp::cli::Console {
 public:
  void Out(const std::u16string& text) override {
    if (!Write(stdout, text) && !outError_) outError_ = errno ? errno : EIO;
  }
  void Err(const std::u16string& text) override { errFailed_ |= !Write(stderr, text); }
  bool OutIsTerminal() override { return ::isatty(1) == 1; }
  // A failed write to standard output (a full disk, a closed pipe): errno.
  int outError() const { return outError_; }
  bool errFailed() const { return errFailed_; }

 private:
  static bool Write(FILE* f, const std::u16string& text) {
    std::string s = zelp::Utf16ToUtf8(text);
    errno = 0;
    bool ok = std::fwrite(s.data(), 1, s.size(), f) == s.size();
    return std::fflush(f) == 0 && ok;
  }
  int outError_ = 0;
  bool errFailed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zelp::PathFromNative(argv[i]));
  // A closed pipe on standard output or error is a failed write, not the end
  // of the process (which could come after patching, with no report).
  std::signal(SIGPIPE, SIG_IGN);
  StdioConsole console;
  console.language = zelp::LanguageFromEnvironment();
  int code = zelp::cli::Run(args, console);
  // What was printed is the result: losing it is a failure.
  if (console.outError() || std::fclose(stdout) != 0) {
    int e = console.outError() ? console.outError() : errno;
    zelp::cli::Say(console,
                   zelp::Fill2(u"cannot write to standard output: {0}", u"无法写入标准输出：{0}",
                               {zelp::PathFromNative(std::strerror(e))}));
    return code == zelp::cli::kExitOk ? zelp::cli::kExitFailed : code;
  }
  // The report went to a closed or full standard error: at least the exit
  // code must not claim success.
  return console.errFailed() && code == zelp::cli::kExitOk ? zelp::cli::kExitFailed : code;
}
