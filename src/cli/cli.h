// The zelp command: argument parsing and output only; the work is done by
// the engine and authoring layers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/language.h"
#include "common/words.h"
#include "engine/foreign.h"
#include "file/digests.h"
#include "file/xfile.h"

namespace zelp::cli {

// Where the command's text goes: the platform main decides the encoding and
// the language of the explanations.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(const std::u16string& text) = 0;
  virtual void Err(const std::u16string& text) = 0;
  // Whether Out writes to a terminal (where control characters act).
  virtual bool OutIsTerminal() { return false; }
  Language language = Language::kEnglish;
};

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotTheFile = 3;  // the target is not the file the patch was made for

// Runs `zelp args...` (args excludes the program name); returns the exit code.
int Run(const std::vector<std::u16string>& args, Console& console);

// The arguments of one command, split by its table entry.
struct Args {
  std::vector<std::u16string> positional;
  std::vector<std::pair<std::u16string, std::u16string>> options;  // --name value
  std::vector<std::u16string> flags;                               // --name
};
const std::u16string* FindOption(const Args& a, const std::u16string& name);
bool HasFlag(const Args& a, const std::u16string& name);
// Decimal or 0x-hexadecimal unsigned 64-bit number.
bool ParseNumber(const std::u16string& text, uint64_t& value);
// The closest of `candidates` to a mistyped `word`, or "" when none is close.
std::u16string DidYouMean(const std::u16string& word,
                          const std::vector<std::u16string>& candidates);

// Prints "zelp: <message>" in the console's language and the command's
// usage on stderr; returns kExitUsage.
int UsageError(Console& console, const char16_t* command, const Bilingual& message);

// "missing -o OUT", for the commands that write a file.
Bilingual MissingOutput();

// Each line of `text` as a "zelp: " line.
std::u16string ZelpLines(const std::u16string& text);

// The size of the file at `path`, -1 when it cannot be opened.
int64_t SizeOf(const std::u16string& path);

// "zelp: " lines on stderr in the console's language (say.cpp): `english`
// or `chinese`, and the lines apply says for every patch format.
void Say(Console& console, const std::u16string& english, const std::u16string& chinese);
void Say(Console& console, const Bilingual& message);
// On stdout after the report of success: "patched 'game.sfc' in place:
// 4,194,304 → 4,194,304 bytes", or with `output`, a copy patched into it.
void SayPatched(Console& console, const std::u16string& target, const std::u16string* output,
                int64_t before, int64_t after);
void SayCannotOpen(Console& console, const std::u16string& path);
void SayCannotReadTarget(Console& console, const std::u16string& target);
void SayCannotWrite(Console& console, const std::u16string& path);
void SayShortOfHeader(Console& console, const std::u16string& target);
// True, after saying so, when `output` names the same file as `input`.
bool SayIfOutputIsInput(Console& console, const std::u16string& output,
                        const std::u16string& input);
// "replaced the existing 'OUT'".
void SayReplaced(Console& console, const std::u16string& output);
// What create, convert and pack wrote: on stdout, or beside the output on
// stderr when the output is standard output.
void SayWritten(Console& console, const std::u16string& output, const std::u16string& text);
void SayBackupExists(Console& console, const std::u16string& backup);
void SayBackupFailed(Console& console, const std::u16string& backup);
void SayOriginalKept(Console& console, const std::u16string& backup);
// "'T' is unchanged", and with `output`, "; 'O' was not written".
void SayUnchanged(Console& console, const std::u16string& target, const std::u16string* output);

// Subcommands: arguments already checked against their table entry.
int CmdInfo(const Args& a, Console& console);
int CmdCheck(const Args& a, Console& console);
int CmdApply(const Args& a, Console& console);
int CmdCreate(const Args& a, Console& console);
int CmdPack(const Args& a, Console& console);
int CmdConvert(const Args& a, Console& console);

// create's work on two named files (convert gives it a file it made): the
// format by --format or OUT's name, --description or else
// `defaultDescription` (may be null).
int CreateFromFiles(const Args& a, const char16_t* command, const std::u16string& original,
                    const std::u16string& modified, const std::u16string* defaultDescription,
                    Console& console);
// Applies the ZELP patch named by the first argument (at --base or where it
// is found) to `copy`, a copy of the file it applies to; prints any refusal
// and returns the exit code.
int ApplyZelpToCopy(const Args& a, CKOVA_xFile& copy, Console& console);
// The ZELP patch in `patch` applied to the file at `targetPath` in place, with
// the rollback journal, its report printed; returns the exit code.
int ApplyInPlaceFrom(CKOVA_xFile& patch, const std::u16string& targetPath, Console& console);

// IPS, UPS and BPS patches (cmd_foreign.cpp): the kind of the patch the
// first argument names, by its magic (kZelp when --base places a ZELP patch
// inside a file), and the commands for the other formats.
PatchKind ForeignKind(const Args& a);
inline bool IsForeign(PatchKind kind) {
  return kind == PatchKind::kIps || kind == PatchKind::kUps || kind == PatchKind::kBps;
}
// "zelp: this file: CRC-32 …, MD5 …, SHA-1 …" (or "the result: …") on
// stdout for the file at `path` past `skip` bytes; nothing when it cannot be
// read or for standard output.
void PrintDigests(const std::u16string& path, int64_t skip, Digested what, Console& console);
int ForeignInfoCmd(const Args& a, PatchKind kind, Console& console);
int ForeignCheckCmd(const Args& a, PatchKind kind, Console& console);
int ForeignApplyCmd(const Args& a, PatchKind kind, Console& console);

// The version line: "zelp VERSION (BUILD)".
std::u16string VersionText();

// The dialog program installed with zelp (beside it, or in ../share/zelp/),
// or "" with the places looked at in `looked`.
std::u16string InstalledStub(std::vector<std::u16string>& looked);
// The platform part: the path of the running zelp, "" when unknown.
std::u16string OwnProgramPath();

// The name the dialog program is installed under.
inline constexpr char16_t kStubName[] = u"zelp-stub.exe";

}  // namespace zelp::cli
