// zelp pack: a distributable program from the dialog program and a patch.
#include <string>

#include "author/out_file.h"
#include "author/tool.h"
#include "cli/cli.h"
#include "common/text.h"

namespace zelp::cli {

int CmdPack(const std::vector<std::u16string>& args, Console& console) {
  Args a;
  std::u16string error;
  if (!ParseArgs(args, {u"-o"}, {}, a, error) || a.positional.size() != 2 ||
      !FindOption(a, u"-o")) {
    if (!error.empty()) console.Err(u"zelp: " + error + u"\n");
    return Usage(console, false);
  }
  const std::u16string& output = *FindOption(a, u"-o");
  author::OutputInfo info;
  if (!author::PackFiles(a.positional[0], a.positional[1], output, info, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  std::u16string line = u"zelp: wrote program '" + output + u"': " + Decimal(info.fileSize) +
                        u" bytes, patch at offset " + Decimal(info.base) +
                        (info.replacedPatch ? u" (the patch the stub carried was left out)" : u"") +
                        u"\n";
  // With -o -, standard output holds the program: the report goes beside it.
  output == author::kStdoutName ? console.Err(line) : console.Out(line);
  return kExitOk;
}

}  // namespace zelp::cli
