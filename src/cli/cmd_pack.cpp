// zelp pack: a distributable program from the dialog program and a patch.
#include <string>

#include "author/tool.h"
#include "cli/cli.h"
#include "common/text.h"
#include "file/out_file.h"

namespace zelp::cli {

int CmdPack(const Args& a, Console& console) {
  const std::u16string* output = FindOption(a, u"-o");
  if (!output) return UsageError(console, u"pack", MissingOutput());
  author::OutputInfo info;
  Bilingual error;
  if (!author::PackFiles(a.positional[0], a.positional[1], *output, info, error)) {
    Say(console, error);
    return kExitFailed;
  }
  if (info.replacedOutput) SayReplaced(console, *output);
  const bool zh = console.language == Language::kChinese;
  SayWritten(console, *output,
             Fill(zh ? u"已写出补丁程序 '{0}'：{1} 字节，补丁位于第 {2} 字节{3}"
                     : u"wrote program '{0}': {1} bytes, patch at offset {2}{3}",
                  {*output, Decimal(info.fileSize), Decimal(info.base),
                   !info.replacedPatch ? u""
                   : zh                ? u"（对话框程序原带的补丁已去掉）"
                                       : u" (the patch the stub carried was left out)"}));
  return kExitOk;
}

}  // namespace zelp::cli
