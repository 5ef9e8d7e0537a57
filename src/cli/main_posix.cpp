// The zelp command on POSIX: arguments are bytes, printed text is UTF-8.
#include <cstdio>

#include "cli/cli.h"
#include "common/text.h"

namespace {

class StdioConsole : public zelp::cli::Console {
 public:
  void Out(const std::u16string& text) override { Write(stdout, text); }
  void Err(const std::u16string& text) override { Write(stderr, text); }

 private:
  static void Write(FILE* f, const std::u16string& text) {
    std::string s = zelp::Utf16ToUtf8(text);
    std::fwrite(s.data(), 1, s.size(), f);
    std::fflush(f);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.push_back(zelp::PathFromNative(argv[i]));
  StdioConsole console;
  return zelp::cli::Run(args, console);
}
