#include "cli/cli.h"

#include <algorithm>

#include "common/text.h"
#include "file/file.h"

namespace zelp::cli {

namespace {

struct Command {
  const char16_t* name;
  int (*run)(const Args&, Console&);
  size_t minFiles, maxFiles;
  std::vector<std::u16string> valued, bare;
  const char16_t* usage;         // after "usage: zelp "
  const char16_t* help;          // what `zelp NAME --help` adds to the usage
  const char16_t* missingFiles;  // English and Chinese
  const char16_t* missingFilesZh;
};

int CmdVersion(const Args&, Console& console) {
  console.Out(VersionText() + u"\n");
  return kExitOk;
}

const Command kCommands[] = {
    {u"info",
     CmdInfo,
     1,
     1,
     {u"--base"},
     {},
     u"info FILE [--base N]",
     u"Shows the summary of the patch in FILE (the patch version, the CRC-32 the target must\n"
     u"have, the size after patching) and its description, and checks its whole record\n"
     u"stream: a damaged or cut-short patch exits with 1. A file that holds no patch exits\n"
     u"with 1 too, after printing its CRC-32, MD5 and SHA-1.\n",
     u"info needs the patch FILE",
     u"info 需要补丁文件 FILE"},
    {u"check",
     CmdCheck,
     2,
     2,
     {u"--base"},
     {u"--header"},
     u"check FILE TARGET [--base N] [--header]",
     u"Tells, without changing TARGET, whether the patch in FILE applies to it, and when not,\n"
     u"why: the file is already patched, carries a 512-byte copier header, or is another\n"
     u"file (with the CRC-32 expected and found). Exit 0 when the patch would apply, 3 when\n"
     u"TARGET is not the file the patch was made for, 1 when the patch is damaged.\n",
     u"check needs the patch FILE and the TARGET",
     u"check 需要补丁文件 FILE 和目标文件 TARGET"},
    {u"apply",
     CmdApply,
     2,
     2,
     {u"--base", u"-o"},
     {u"--backup", u"--force", u"--header", u"--checksums"},
     u"apply FILE TARGET [--base N] [-o OUT | --backup [--force]] [--header] [--checksums]",
     u"Applies the patch in FILE to TARGET in place, as the patch program's button does, and\n"
     u"prints its report (\"补丁成功\" on stdout, or the failure on stderr followed by\n"
     u"\"zelp: \" lines in the user's language).\n"
     u"  -o OUT     leave TARGET untouched and write the patched file to OUT\n"
     u"  --backup   first keep TARGET's bytes as TARGET.bak (refused if that exists)\n"
     u"  --force    with --backup: replace an existing TARGET.bak\n"
     u"  --header   patch TARGET as if its first 512 bytes (a copier header) were not there;\n"
     u"             the header stays in place\n"
     u"  --checksums  print the result's CRC-32, MD5 and SHA-1 (one more read of it)\n"
     u"Exit 0 done, 1 failed, 3 TARGET is not the file the patch was made for.\n",
     u"apply needs the patch FILE and the TARGET",
     u"apply 需要补丁文件 FILE 和目标文件 TARGET"},
    {u"create",
     CmdCreate,
     2,
     2,
     {u"-o", u"--description", u"--stub", u"--format"},
     {u"--no-crc"},
     u"create ORIGINAL MODIFIED -o OUT [--format F] [--description FILE] [--no-crc] [--stub STUB]",
     u"Writes the ZELP 3.0 patch that turns ORIGINAL into MODIFIED. With --stub, or when OUT\n"
     u"ends in .exe, the patch is appended to the dialog program (STUB, or the one installed\n"
     u"with zelp): one program to distribute.\n"
     u"  -o OUT               the output; - writes it to standard output\n"
     u"  --description FILE   text the program shows: UTF-8, or UTF-16 with a byte order mark\n"
     u"  --no-crc             the patch applies to any file, without the CRC-32 check\n"
     u"  --stub STUB          the dialog program to append the patch to\n"
     u"  --format F           zelp, ips, ups or bps; by default OUT's name chooses (.ips, .ups,\n"
     u"                       .bps; anything else is ZELP). A BPS carries the description as\n"
     u"                       its metadata.\n",
     u"create needs ORIGINAL and MODIFIED",
     u"create 需要原文件 ORIGINAL 和修改后的文件 MODIFIED"},
    {u"convert",
     CmdConvert,
     2,
     2,
     {u"-o", u"--description", u"--stub", u"--format", u"--base"},
     {},
     u"convert PATCH ORIGINAL -o OUT [--format F] [--description FILE] [--stub STUB]",
     u"Turns PATCH (ZELP, IPS, UPS, BPS or a patch program), applied to ORIGINAL, into a patch\n"
     u"of another format, chosen as in create: OUT.exe is the program players run. A BPS's\n"
     u"text metadata becomes the description when --description is not given.\n",
     u"convert needs the PATCH and the ORIGINAL it applies to",
     u"convert 需要补丁 PATCH 和它要打的原文件 ORIGINAL"},
    {u"pack",
     CmdPack,
     2,
     2,
     {u"-o"},
     {},
     u"pack STUB PATCH -o OUT",
     u"Appends the bare patch PATCH to the dialog program STUB (a patch it already carries is\n"
     u"left out); OUT is the program to distribute, - for standard output.\n",
     u"pack needs the dialog program STUB and the PATCH",
     u"pack 需要对话框程序 STUB 和补丁 PATCH"},
    {u"version",
     CmdVersion,
     0,
     0,
     {},
     {},
     u"version",
     u"Shows the version and the build.\n",
     u"",
     u""},
};

const char16_t kUsage[] =
    u"usage: zelp <command> [arguments]\n"
    u"\n"
    u"  zelp info FILE [--base N]          show a patch's summary and description\n"
    u"  zelp check FILE TARGET [--base N]  tell whether the patch applies to TARGET, and why not\n"
    u"  zelp apply FILE TARGET [--base N] [-o OUT | --backup [--force]]\n"
    u"                                     apply the patch in FILE to TARGET (in place, or\n"
    u"                                     to OUT, or keeping TARGET.bak)\n"
    u"  zelp create ORIGINAL MODIFIED -o OUT [--description FILE] [--no-crc] [--stub STUB]\n"
    u"                                     write the patch that turns ORIGINAL into MODIFIED\n"
    u"                                     (with --stub or OUT.exe, the distributable program)\n"
    u"  zelp convert PATCH ORIGINAL -o OUT turn PATCH into another format, or a program\n"
    u"  zelp pack STUB PATCH -o OUT        append PATCH to the program STUB\n"
    u"  zelp version                       show the version and the build\n"
    u"\n"
    u"FILE is a ZELP 3.0, IPS, UPS or BPS patch, or a program that carries one; --base N says at\n"
    u"which byte of FILE the patch starts (decimal or 0x-hexadecimal).\n"
    u"`zelp COMMAND --help` tells more about each command.\n"
    u"\n"
    u"Exit status: 0 done; 1 failed; 2 wrong usage; 3 TARGET is not the file the\n"
    u"patch was made for (or is already patched).\n";

const Command* FindCommand(const std::u16string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

std::u16string CommandUsage(const Command& c) {
  return std::u16string(u"usage: zelp ") + c.usage + u"\n";
}

size_t Distance(const std::u16string& a, const std::u16string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// Splits `in` by the command's table entry; kExitOk, or the usage error.
int Parse(const Command& c, const std::vector<std::u16string>& in, Args& out, Console& console) {
  auto has = [](const std::vector<std::u16string>& v, const std::u16string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  };
  bool onlyPositional = false;  // after "--", names like "-x" are files
  for (size_t i = 0; i < in.size(); ++i) {
    const std::u16string& a = in[i];
    if (onlyPositional || a.size() < 2 || a[0] != u'-') {
      out.positional.push_back(a);
    } else if (a == u"--") {
      onlyPositional = true;
    } else if (has(c.valued, a)) {
      if (i + 1 >= in.size())
        return UsageError(console, c.name, Fill2(u"{0} needs a value", u"{0} 需要一个值", {a}));
      out.options.emplace_back(a, in[++i]);
    } else if (has(c.bare, a)) {
      out.flags.push_back(a);
    } else {
      std::vector<std::u16string> known = c.valued;
      known.insert(known.end(), c.bare.begin(), c.bare.end());
      known.push_back(u"--help");
      std::u16string close = DidYouMean(a, known);
      return UsageError(console, c.name,
                        close.empty() ? Fill2(u"unknown option {0}", u"未知选项 {0}", {a})
                                      : Fill2(u"unknown option {0}; did you mean {1}?",
                                              u"未知选项 {0}；是不是想用 {1}？", {a, close}));
    }
  }
  if (out.positional.size() < c.minFiles)
    return UsageError(console, c.name, {c.missingFiles, c.missingFilesZh});
  if (out.positional.size() > c.maxFiles)
    return UsageError(
        console, c.name,
        Fill2(u"unexpected argument '{0}'", u"多余的参数 '{0}'", {out.positional[c.maxFiles]}));
  return kExitOk;
}

bool AsksForHelp(const std::vector<std::u16string>& args) {
  for (const std::u16string& a : args) {
    if (a == u"--") return false;
    if (a == u"--help" || a == u"-h") return true;
  }
  return false;
}

}  // namespace

int UsageError(Console& console, const char16_t* command, const Bilingual& message) {
  const Command* c = command ? FindCommand(command) : nullptr;
  console.Err(u"zelp: " + message.In(console.language) + u"\n" +
              (c ? CommandUsage(*c) : std::u16string(kUsage)));
  return kExitUsage;
}

Bilingual MissingOutput() { return {u"missing -o OUT", u"缺少 -o OUT（输出文件）"}; }

int Run(const std::vector<std::u16string>& args, Console& console) {
  if (args.empty()) {
    console.Err(kUsage);
    return kExitUsage;
  }
  const std::u16string& name = args[0];
  if (name == u"--help" || name == u"-h" || name == u"help") {
    const Command* c = args.size() > 1 ? FindCommand(args[1]) : nullptr;
    console.Out(c ? CommandUsage(*c) + u"\n" + c->help : std::u16string(kUsage));
    return kExitOk;
  }
  if (name == u"--version" || name == u"-V") return CmdVersion({}, console);
  const Command* c = FindCommand(name);
  if (!c) {
    std::vector<std::u16string> names;
    for (const Command& k : kCommands) names.push_back(k.name);
    std::u16string close = DidYouMean(name, names);
    return UsageError(console, nullptr,
                      close.empty() ? Fill2(u"unknown command '{0}'", u"未知命令 '{0}'", {name})
                                    : Fill2(u"unknown command '{0}'; did you mean '{1}'?",
                                            u"未知命令 '{0}'；是不是想用 '{1}'？", {name, close}));
  }
  std::vector<std::u16string> rest(args.begin() + 1, args.end());
  if (AsksForHelp(rest)) {
    console.Out(CommandUsage(*c) + u"\n" + c->help);
    return kExitOk;
  }
  Args a;
  if (int code = Parse(*c, rest, a, console)) return code;
  return c->run(a, console);
}

std::u16string DidYouMean(const std::u16string& word,
                          const std::vector<std::u16string>& candidates) {
  std::u16string best;
  size_t bestDistance = SIZE_MAX;
  for (const std::u16string& c : candidates) {
    size_t d = Distance(word, c);
    if (d < bestDistance) {
      bestDistance = d;
      best = c;
    }
  }
  // Close: a typo or two, not a different word.
  return bestDistance <= std::max<size_t>(1, std::min<size_t>(2, best.size() / 3)) ? best : u"";
}

const std::u16string* FindOption(const Args& a, const std::u16string& name) {
  const std::u16string* found = nullptr;
  for (const auto& o : a.options)
    if (o.first == name) found = &o.second;  // the last one counts
  return found;
}

bool HasFlag(const Args& a, const std::u16string& name) {
  return std::find(a.flags.begin(), a.flags.end(), name) != a.flags.end();
}

bool ParseNumber(const std::u16string& text, uint64_t& value) {
  size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return false;
  uint64_t v = 0;
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    unsigned d;
    if (c >= u'0' && c <= u'9')
      d = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f')
      d = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F')
      d = c - u'A' + 10;
    else
      return false;
    if (v > (UINT64_MAX - d) / base) return false;  // overflow
    v = v * base + d;
  }
  value = v;
  return true;
}

std::u16string InstalledStub(std::vector<std::u16string>& looked) {
  looked.clear();
  std::u16string self = OwnProgramPath();
  if (self.empty()) return u"";
  const std::u16string dir = FolderOf(self);
  for (const std::u16string& candidate :
       {dir + u"/" + kStubName, dir + u"/../share/zelp/" + kStubName}) {
    looked.push_back(candidate);
    CKOVA_File file;
    if (Open(candidate.c_str(), file, kModeRead, kShareRead)) return candidate;
  }
  return u"";
}

int64_t SizeOf(const std::u16string& path) {
  CKOVA_File file;
  int64_t size = -1;
  if (Open(path.c_str(), file, kModeRead, kShareRead)) file.GetSize(size);
  return size;
}

std::u16string ZelpLines(const std::u16string& text) {
  std::u16string out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find(u'\n', at);
    if (end == std::u16string::npos) end = text.size();
    out += u"zelp: " + text.substr(at, end - at) + u"\n";
    at = end + 1;
  }
  return out;
}

}  // namespace zelp::cli
