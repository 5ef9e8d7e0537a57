// The zelp command on Windows: arguments arrive as UTF-16; text goes to a
// console as UTF-16 (WriteConsoleW), and as UTF-8 when redirected.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/text.h"
#include "common/win_text.h"

namespace {

class Win32Console : public zelp::cli::Console {
 public:
  void Out(const std::u16string& text) override {
    if (!Write(STD_OUTPUT_HANDLE, text)) outFailed_ = true;
  }
  void Err(const std::u16string& text) override { Write(STD_ERROR_HANDLE, text); }
  bool OutIsTerminal() override {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  }
  bool outFailed() const { return outFailed_; }

 private:
  // False when the text could not be written whole.
  static bool Write(DWORD which, const std::u16string& text) {
    HANDLE h = GetStdHandle(which);
    if (text.empty()) return true;
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return false;
    DWORD mode;
    if (GetConsoleMode(h, &mode)) {
      // A console shows UTF-16 whatever its code page.
      const wchar_t* p = as_wcstr(text.c_str());
      size_t left = text.size();
      while (left > 0) {
        DWORD chunk = left > 16384 ? 16384 : static_cast<DWORD>(left);
        DWORD done = 0;
        if (!WriteConsoleW(h, p, chunk, &done, nullptr) || done == 0) return false;
        p += done;
        left -= done;
      }
      return true;
    }
    std::string bytes = zelp::Utf16ToUtf8(text);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      DWORD done = 0;
      DWORD chunk = left > 65536 ? 65536 : static_cast<DWORD>(left);
      if (!WriteFile(h, p, chunk, &done, nullptr) || done == 0) return false;
      p += done;
      left -= done;
    }
    return true;
  }
  bool outFailed_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(as_u16cstr(argv[i]));
  Win32Console console;
  // The locale variables when set (as in an MSYS shell), else the language
  // Windows shows its own texts in.
  if (!zelp::LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                std::getenv("LANG"), console.language))
    console.language = PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE
                           ? zelp::Language::kChinese
                           : zelp::Language::kEnglish;
  int code = zelp::cli::Run(args, console);
  // What was printed is the result: losing it is a failure.
  if (console.outFailed()) {
    zelp::cli::Say(console, {u"cannot write to standard output", u"无法写入标准输出"});
    return code == zelp::cli::kExitOk ? zelp::cli::kExitFailed : code;
  }
  return code;
}
