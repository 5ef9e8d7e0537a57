// The zelp command: argument parsing and output only; the work is done by
// the engine and authoring layers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelp::cli {

// Where the command's text goes: the platform main decides the encoding.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const std::u16string& text) = 0;
  virtual void Err(const std::u16string& text) = 0;
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Runs `zelp args...` (args excludes the program name); returns the exit code.
int Run(const std::vector<std::u16string>& args, Console& console);

// Shared by the subcommands.
struct Args {
  std::vector<std::u16string> positional;
  std::vector<std::pair<std::u16string, std::u16string>> options;  // --name value
  std::vector<std::u16string> flags;                               // --name
};
// Splits args into positionals, options taking a value (`valued`) and bare
// flags (`bare`); false, with a message in `error`, on anything unknown.
bool ParseArgs(const std::vector<std::u16string>& in, const std::vector<std::u16string>& valued,
               const std::vector<std::u16string>& bare, Args& out, std::u16string& error);
const std::u16string* FindOption(const Args& a, const std::u16string& name);
bool HasFlag(const Args& a, const std::u16string& name);
// Decimal or 0x-hexadecimal unsigned 64-bit number.
bool ParseNumber(const std::u16string& text, uint64_t& value);

// Subcommands: `args` excludes the subcommand's name.
int CmdInfo(const std::vector<std::u16string>& args, Console& console);
int CmdApply(const std::vector<std::u16string>& args, Console& console);
int CmdCreate(const std::vector<std::u16string>& args, Console& console);
int CmdPack(const std::vector<std::u16string>& args, Console& console);

// Writes the usage text (to Out or Err) and returns the exit code to use.
int Usage(Console& console, bool toStdout);

}  // namespace zelp::cli
