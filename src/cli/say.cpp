// The "zelp: " lines that apply says for every patch format, in the
// console's language: one text for one meaning, whichever command says it.
#include "cli/cli.h"
#include "common/text.h"
#include "file/out_file.h"

namespace zelp::cli {

namespace {

bool Zh(const Console& console) { return console.language == Language::kChinese; }

}  // namespace

void Say(Console& console, const std::u16string& english, const std::u16string& chinese) {
  console.Err(ZelpLines(Zh(console) ? chinese : english));
}

void Say(Console& console, const Bilingual& message) {
  console.Err(ZelpLines(message.In(console.language)));
}

void SayPatched(Console& console, const std::u16string& target, const std::u16string* output,
                int64_t before, int64_t after) {
  const bool zh = Zh(console);
  std::u16string where =
      output ? (zh ? u"已给 " + Quote(target) + u" 的副本打上补丁，写入 " + Quote(*output)
                   : u"patched a copy of " + Quote(target) + u" into " + Quote(*output))
             : (zh ? u"已在原文件上给 " + Quote(target) + u" 打上补丁"
                   : u"patched " + Quote(target) + u" in place");
  console.Out(ZelpLines(where + (zh ? u"：" : u": ") + Grouped(before) + u" → " + Grouped(after) +
                        (zh ? u" 字节" : u" bytes")));
}

void SayCannotOpen(Console& console, const std::u16string& path) { Say(console, CannotOpen(path)); }

void SayCannotReadTarget(Console& console, const std::u16string& target) {
  Say(console, u"cannot open the target " + Quote(target) + u" for reading",
      u"无法读取目标文件 " + Quote(target));
}

void SayCannotWrite(Console& console, const std::u16string& path) {
  Say(console, CannotWrite(path));
}

void SayShortOfHeader(Console& console, const std::u16string& target) {
  Say(console, Quote(target) + u" is shorter than a 512-byte copier header",
      Quote(target) + u" 比512字节的拷贝机文件头还短");
}

bool SayIfOutputIsInput(Console& console, const std::u16string& output,
                        const std::u16string& input) {
  if (output == kStdoutName || !SameFile(output, input)) return false;
  Say(console, OutputIsInput(output, input));
  return true;
}

void SayReplaced(Console& console, const std::u16string& output) {
  Say(console, Fill2(u"replaced the existing {0}", u"已替换原有的 {0}", {Quote(output)}));
}

void SayWritten(Console& console, const std::u16string& output, const std::u16string& text) {
  output == kStdoutName ? console.Err(ZelpLines(text)) : console.Out(ZelpLines(text));
}

void SayBackupExists(Console& console, const std::u16string& backup) {
  Say(console,
      u"the backup " + Quote(backup) + u" already exists; remove it or add --force to replace it",
      u"备份 " + Quote(backup) + u" 已经存在；请删除它，或加上 --force 替换它");
}

void SayBackupFailed(Console& console, const std::u16string& backup) {
  Say(console, u"cannot write the backup " + Quote(backup) + u"; nothing was changed",
      u"无法写入备份 " + Quote(backup) + u"；文件未被改动");
}

void SayOriginalKept(Console& console, const std::u16string& backup) {
  Say(console, u"the original is kept in " + Quote(backup), u"原文件保存在 " + Quote(backup));
}

void SayUnchanged(Console& console, const std::u16string& target, const std::u16string* output) {
  // Appends only: GCC 12 for Windows warns falsely (-Wrestrict) on `+` here.
  std::u16string english = Quote(target), chinese = english;
  english += u" is unchanged";
  chinese += u" 未被改动";
  if (output) {
    const std::u16string name = Quote(*output);
    english.append(u"; ").append(name).append(u" was not written");
    chinese.append(u"；").append(name).append(u" 没有写出");
  }
  Say(console, english, chinese);
}

}  // namespace zelp::cli
