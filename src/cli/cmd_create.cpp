// zelp create: a patch (or, with --stub or an OUT ending in .exe, a
// distributable program) that turns one file into another.
#include <string>

#include "author/description.h"
#include "author/tool.h"
#include "cli/cli.h"
#include "common/text.h"
#include "file/file.h"
#include "file/out_file.h"

namespace zelp::cli {

namespace {

// Reads the description file and converts it; false after printing why.
bool LoadDescription(const std::u16string& path, std::u16string& text, Console& console) {
  CKOVA_File file;
  if (!Open(path.c_str(), file, kModeRead, kShareRead)) {
    console.Err(u"zelp: cannot open the description " + Quote(path) + u"\n");
    return false;
  }
  // No UTF-8 character takes more than 3 bytes per UTF-16 unit, so a longer
  // file is too long whatever it holds; reading stops there.
  const size_t cap = 3 * author::kMaxDescriptionUnits + 4;
  std::string bytes(cap + 1, '\0');
  size_t have = 0;
  while (have < bytes.size()) {
    uint32_t got = file.Read(&bytes[have], static_cast<uint32_t>(bytes.size() - have));
    if (got == 0) break;
    have += got;
  }
  bytes.resize(have);
  size_t units = 0;
  auto result = have > cap ? author::DescriptionError::kTooLong
                           : author::DescriptionFromBytes(bytes, text, units);
  if (result == author::DescriptionError::kNone) return true;
  console.Err(u"zelp: " + author::DescriptionErrorText(result, path, units) + u"\n");
  return false;
}

bool EndsWithExe(const std::u16string& path) {
  if (path.size() < 4) return false;
  std::u16string tail = path.substr(path.size() - 4);
  for (char16_t& c : tail)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return tail == u".exe";
}

std::u16string Lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}

// The format a name or a --format word stands for: kUnknown for none.
PatchKind KindOfWord(const std::u16string& word) {
  const std::u16string w = Lower(word);
  if (w == u"ips") return PatchKind::kIps;
  if (w == u"ups") return PatchKind::kUps;
  if (w == u"bps") return PatchKind::kBps;
  if (w == u"zelp" || w == u"exe") return PatchKind::kZelp;
  return PatchKind::kUnknown;
}

PatchKind KindOfName(const std::u16string& path) {
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || path.find_first_of(u"/\\", dot) != std::u16string::npos)
    return PatchKind::kUnknown;
  return KindOfWord(path.substr(dot + 1));
}

std::u16string Article(PatchKind kind) { return kind == PatchKind::kIps ? u"an " : u"a "; }

// The format to write: --format, else OUT's name; a name that suggests
// another format than --format is refused. 0, or the exit code.
int ChooseKind(const Args& a, const char16_t* command, const std::u16string& output,
               PatchKind& kind, Console& console) {
  const PatchKind named = KindOfName(output);
  kind = named == PatchKind::kUnknown ? PatchKind::kZelp : named;
  const std::u16string* word = FindOption(a, u"--format");
  if (!word) return 0;
  kind = KindOfWord(*word);
  if (kind == PatchKind::kUnknown || Lower(*word) == u"exe")
    return UsageError(console, command, u"--format takes zelp, ips, ups or bps");
  if (named != PatchKind::kUnknown && named != kind) {
    console.Err(u"zelp: '" + output + u"' is named like " +
                (EndsWithExe(output) ? std::u16string(u"a patch program")
                                     : Article(named) + KindName(named) + u" patch") +
                u", but --format " + Lower(*word) + u" writes " + Article(kind) + KindName(kind) +
                u" patch; give it a name that matches, or leave out --format\n");
    return kExitFailed;
  }
  return 0;
}

int CreateForeign(const Args& a, PatchKind kind, const std::u16string& original,
                  const std::u16string& modified, const std::u16string& output,
                  const std::u16string& description, bool hasDescription, Console& console) {
  const std::u16string name = KindName(kind);
  if (FindOption(a, u"--stub") || HasFlag(a, u"--no-crc")) {
    console.Err(u"zelp: --stub and --no-crc are for ZELP patches and programs, not " + name +
                u"\n");
    return kExitUsage;
  }
  if (hasDescription && kind != PatchKind::kBps) {
    console.Err(u"zelp: a " + name +
                u" patch carries no description; only BPS (as metadata) "
                u"and ZELP do\n");
    return kExitUsage;
  }
  // BPS metadata is UTF-8 text with the file's own line breaks.
  std::string metadata = hasDescription ? Utf16ToUtf8(CrLfToLf(description)) : std::string();
  author::ForeignStats stats;
  author::OutputInfo info;
  std::u16string error;
  if (!author::CreateForeignFile(kind, original, modified, output, metadata, stats, info, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  if (info.replacedOutput) console.Err(u"zelp: replaced the existing '" + output + u"'\n");
  std::u16string line = u"zelp: wrote " + name + u" patch '" + output + u"': " +
                        Decimal(static_cast<uint64_t>(info.fileSize)) + u" bytes, " +
                        Decimal(stats.steps) +
                        (kind == PatchKind::kIps   ? u" records, "
                         : kind == PatchKind::kUps ? u" hunks, "
                                                   : u" actions, ") +
                        Decimal(stats.literalBytes) + u" bytes of the modified file\n";
  output == kStdoutName ? console.Err(line) : console.Out(line);
  return kExitOk;
}

}  // namespace

int CmdCreate(const Args& a, Console& console) {
  return CreateFromFiles(a, u"create", a.positional[0], a.positional[1], nullptr, console);
}

int CreateFromFiles(const Args& a, const char16_t* command, const std::u16string& original,
                    const std::u16string& modified, const std::u16string* defaultDescription,
                    Console& console) {
  if (!FindOption(a, u"-o")) return UsageError(console, command, u"missing -o OUT");
  author::CreateRequest request;
  request.original = original;
  request.modified = modified;
  request.output = *FindOption(a, u"-o");
  request.crc = !HasFlag(a, u"--no-crc");
  PatchKind kind;
  if (int code = ChooseKind(a, command, request.output, kind, console)) return code;
  if (const std::u16string* description = FindOption(a, u"--description")) {
    if (SameFile(request.output, *description)) {
      console.Err(u"zelp: the output '" + request.output + u"' is the description '" +
                  *description + u"'; choose another name\n");
      return kExitFailed;
    }
    if (!LoadDescription(*description, request.description, console)) return kExitFailed;
    request.hasDescription = true;
  } else if (defaultDescription) {
    request.description = *defaultDescription;
    request.hasDescription = true;
  }
  if (IsForeign(kind))
    return CreateForeign(a, kind, original, modified, request.output, request.description,
                         request.hasDescription, console);
  if (const std::u16string* stub = FindOption(a, u"--stub")) {
    request.stub = *stub;
  } else if (EndsWithExe(request.output)) {
    std::vector<std::u16string> looked;
    request.stub = InstalledStub(looked);
    if (request.stub.empty()) {
      std::u16string places;
      for (const std::u16string& p : looked) places += u"\n  " + p;
      console.Err(u"zelp: '" + request.output +
                  u"' ends in .exe, but no dialog program was found to put the patch in; name "
                  u"one with --stub (looked for:" +
                  places + u")\n");
      return kExitFailed;
    }
  }
  author::PatchStats stats;
  author::OutputInfo info;
  std::u16string error;
  if (!author::CreatePatchFile(request, stats, info, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  std::u16string notes =
      author::CreateNotes(stats.records == 0 && SizeOf(request.original) == stats.targetSize,
                          request.crc && stats.targetCrc == 0, request.original, request.modified);
  if (info.replacedOutput) notes += u"replaced the existing " + Quote(request.output) + u"\n";
  console.Err(ZelpLines(notes));
  std::u16string line =
      u"zelp: " + author::WroteText(!request.stub.empty(), request.output, info.fileSize, stats) +
      (FindOption(a, u"--stub") || request.stub.empty()
           ? u""
           : u" (dialog program " + request.stub + u")") +
      u"\n";
  // With -o -, standard output holds the patch: the report goes beside it.
  request.output == kStdoutName ? console.Err(line) : console.Out(line);
  return kExitOk;
}

}  // namespace zelp::cli
