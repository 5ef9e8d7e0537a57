// zelp pack: a distributable program from the dialog program and a patch.
#include <string>

#include "author/tool.h"
#include "cli/cli.h"
#include "common/text.h"
#include "file/out_file.h"

namespace zelp::cli {

int CmdPack(const Args& a, Console& console) {
  const std::u16string* output = FindOption(a, u"-o");
  if (!output) return UsageError(console, u"pack", u"missing -o OUT");
  author::OutputInfo info;
  std::u16string error;
  if (!author::PackFiles(a.positional[0], a.positional[1], *output, info, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  if (info.replacedOutput) console.Err(u"zelp: replaced the existing '" + *output + u"'\n");
  std::u16string line =
      u"zelp: wrote program '" + *output + u"': " + Decimal(static_cast<uint64_t>(info.fileSize)) +
      u" bytes, patch at offset " + Decimal(static_cast<uint64_t>(info.base)) +
      (info.replacedPatch ? u" (the patch the stub carried was left out)" : u"") + u"\n";
  // With -o -, standard output holds the program: the report goes beside it.
  *output == kStdoutName ? console.Err(line) : console.Out(line);
  return kExitOk;
}

}  // namespace zelp::cli
