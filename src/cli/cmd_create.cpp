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
    Say(console, Fill2(u"cannot open the description {0}", u"无法打开补丁说明 {0}", {Quote(path)}));
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
  Say(console, author::DescriptionErrorText(result, path, units));
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
    return UsageError(
        console, command,
        {u"--format takes zelp, ips, ups or bps", u"--format 只能是 zelp、ips、ups 或 bps"});
  if (named != PatchKind::kUnknown && named != kind) {
    // {0} the name, {1} the format it suggests, {2} the --format word, {3} its format,
    // {4} and {5} the English articles of {3} and {1}.
    auto article = [](PatchKind k) { return k == PatchKind::kIps ? u"an " : u"a "; };
    const bool program = EndsWithExe(output);
    Say(console,
        Fill2(program ? u"'{0}' is named like a patch program, but --format {2} writes {4}{3} "
                        u"patch; give it a name that matches, or leave out --format"
                      : u"'{0}' is named like {5}{1} patch, but --format {2} writes {4}{3} "
                        u"patch; give it a name that matches, or leave out --format",
              program ? u"'{0}' 的名字像补丁程序，但 --format {2} 写出的是 {3} 补丁；"
                        u"请换一个相符的名字，或去掉 --format"
                      : u"'{0}' 的名字像 {1} 补丁，但 --format {2} 写出的是 {3} 补丁；"
                        u"请换一个相符的名字，或去掉 --format",
              {output, KindName(named), Lower(*word), KindName(kind), article(kind),
               article(named)}));
    return kExitFailed;
  }
  return 0;
}

int CreateForeign(const Args& a, PatchKind kind, const std::u16string& original,
                  const std::u16string& modified, const std::u16string& output,
                  const std::u16string& description, bool hasDescription, Console& console) {
  if (FindOption(a, u"--stub") || HasFlag(a, u"--no-crc")) {
    Say(console,
        Fill2(u"--stub and --no-crc are for ZELP patches and programs, not {0}",
              u"--stub 和 --no-crc 只用于 ZELP 补丁和补丁程序，不能用于 {0}", {KindName(kind)}));
    return kExitUsage;
  }
  if (hasDescription && kind != PatchKind::kBps) {
    Say(console, author::NoDescriptionText(kind));
    return kExitUsage;
  }
  // BPS metadata is UTF-8 text with the file's own line breaks.
  std::string metadata = hasDescription ? Utf16ToUtf8(CrLfToLf(description)) : std::string();
  author::ForeignStats stats;
  author::OutputInfo info;
  Bilingual error;
  if (!author::CreateForeignFile(kind, original, modified, output, metadata, stats, info, error)) {
    Say(console, error);
    return kExitFailed;
  }
  if (info.replacedOutput) SayReplaced(console, output);
  SayWritten(console, output,
             author::WroteForeignText(kind, output, info.fileSize, stats).In(console.language));
  return kExitOk;
}

}  // namespace

int CmdCreate(const Args& a, Console& console) {
  return CreateFromFiles(a, u"create", a.positional[0], a.positional[1], nullptr, console);
}

int CreateFromFiles(const Args& a, const char16_t* command, const std::u16string& original,
                    const std::u16string& modified, const std::u16string* defaultDescription,
                    Console& console) {
  if (!FindOption(a, u"-o")) return UsageError(console, command, MissingOutput());
  author::CreateRequest request;
  request.original = original;
  request.modified = modified;
  request.output = *FindOption(a, u"-o");
  request.crc = !HasFlag(a, u"--no-crc");
  PatchKind kind;
  if (int code = ChooseKind(a, command, request.output, kind, console)) return code;
  if (const std::u16string* description = FindOption(a, u"--description")) {
    if (SameFile(request.output, *description)) {
      Say(console, Fill2(u"the output '{0}' is the description '{1}'; choose another name",
                         u"输出文件 '{0}' 就是补丁说明 '{1}'，请换一个名字",
                         {request.output, *description}));
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
      Say(console, Fill2(u"'{0}' ends in .exe, but no dialog program was found to put the patch "
                         u"in; name one with --stub (looked for:{1})",
                         u"'{0}' 以 .exe 结尾，但没有找到可以放入补丁的对话框程序；"
                         u"请用 --stub 指定一个（找过：{1}）",
                         {request.output, places}));
      return kExitFailed;
    }
  }
  author::PatchStats stats;
  author::OutputInfo info;
  Bilingual error;
  if (!author::CreatePatchFile(request, stats, info, error)) {
    Say(console, error);
    return kExitFailed;
  }
  console.Err(ZelpLines(
      author::CreateNotes(stats.records == 0 && SizeOf(request.original) == stats.targetSize,
                          request.crc && stats.targetCrc == 0, request.original, request.modified)
          .In(console.language)));
  if (info.replacedOutput) SayReplaced(console, request.output);
  const bool zh = console.language == Language::kChinese;
  SayWritten(
      console, request.output,
      author::WroteText(!request.stub.empty(), request.output, info.fileSize, stats)
              .In(console.language) +
          (FindOption(a, u"--stub") || request.stub.empty()
               ? u""
               : Fill(zh ? u"（对话框程序 {0}）" : u" (dialog program {0})", {request.stub})));
  return kExitOk;
}

}  // namespace zelp::cli
