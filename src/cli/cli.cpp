#include "cli/cli.h"

#include <algorithm>

namespace zelp::cli {

namespace {

struct Command {
  const char16_t* name;
  int (*run)(const std::vector<std::u16string>&, Console&);
};

const Command kCommands[] = {
    {u"info", CmdInfo},
    {u"apply", CmdApply},
    {u"create", CmdCreate},
    {u"pack", CmdPack},
};

const char16_t kUsage[] =
    u"usage: zelp <command> [arguments]\n"
    u"\n"
    u"  zelp info FILE [--base N]          show a patch's summary and description\n"
    u"  zelp apply FILE TARGET [--base N]  apply the patch in FILE to TARGET in place\n"
    u"  zelp create ORIGINAL MODIFIED -o OUT [--description FILE] [--no-crc] [--stub STUB]\n"
    u"                                     write the patch that turns ORIGINAL into MODIFIED\n"
    u"                                     (with --stub, the distributable program)\n"
    u"  zelp pack STUB PATCH -o OUT        append PATCH to the program STUB\n"
    u"\n"
    u"FILE is a ZELP 3.0 patch or a program that carries one; --base N says at\n"
    u"which byte of FILE the patch starts (decimal or 0x-hexadecimal).\n"
    u"--description FILE: UTF-8 text shown by the program; --no-crc: the patch\n"
    u"applies to any file, without the CRC-32 check.\n";

}  // namespace

int Usage(Console& console, bool toStdout) {
  if (toStdout) {
    console.Out(kUsage);
    return kExitOk;
  }
  console.Err(kUsage);
  return kExitUsage;
}

int Run(const std::vector<std::u16string>& args, Console& console) {
  if (args.empty()) return Usage(console, false);
  if (args[0] == u"--help" || args[0] == u"-h" || args[0] == u"help") return Usage(console, true);
  for (const Command& c : kCommands) {
    if (args[0] == c.name) return c.run({args.begin() + 1, args.end()}, console);
  }
  console.Err(u"zelp: unknown command '" + args[0] + u"'\n");
  return Usage(console, false);
}

bool ParseArgs(const std::vector<std::u16string>& in, const std::vector<std::u16string>& valued,
               const std::vector<std::u16string>& bare, Args& out, std::u16string& error) {
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
    } else if (has(valued, a)) {
      if (i + 1 >= in.size()) {
        error = a + u" needs a value";
        return false;
      }
      out.options.emplace_back(a, in[++i]);
    } else if (has(bare, a)) {
      out.flags.push_back(a);
    } else {
      error = u"unknown option '" + a + u"'";
      return false;
    }
  }
  return true;
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

}  // namespace zelp::cli
