// The engine's remarks in words: only the zelp tool says them (the Windows
// program says nothing beyond its report, and carries none of these words).
#include "engine/journal.h"

namespace zelp {

namespace {

std::u16string RecoveryInEnglish(const Recovery& r) {
  const std::u16string j = u"'" + r.journal + u"'", aside = u"'" + r.aside + u"'";
  switch (r.state) {
    case Recovered::kNone: return u"";
    case Recovered::kRolledBack:
      return u"an interrupted run had left its journal " + j +
             u": the target was put back as it was before that run";
    case Recovered::kFinished:
      return u"a finished run had left its journal " + j + u"; it was removed, not applied";
    case Recovered::kDamaged:
      return u"the journal " + j + u" is damaged; it was set aside as " + aside +
             u" and not applied";
    case Recovered::kForeign:
      return u"the journal " + j +
             u" was not made for this file as it is now; it was set aside as " + aside +
             u" and not applied";
    case Recovered::kUntrusted:
      return u"the journal " + j +
             u" is a link, has another name or is not the target owner's; it was set aside as " +
             aside + u" and not applied";
    case Recovered::kStuck:
      return u"the journal " + j +
             u" is damaged, not for this file or not to be trusted, and could not be set aside; "
             u"it was left as it is and not applied";
    case Recovered::kFailed:
      return u"the target could not be put back from the journal " + j +
             u" of an interrupted run; the journal stays for the next run and nothing was done";
    case Recovered::kKept:
      return u"the target was put back from the journal " + j +
             u" of an interrupted run, but the journal could not be removed; nothing more was "
             u"done";
  }
  return u"";
}

std::u16string RecoveryInChinese(const Recovery& r) {
  const std::u16string j = u"'" + r.journal + u"'", aside = u"'" + r.aside + u"'";
  switch (r.state) {
    case Recovered::kNone: return u"";
    case Recovered::kRolledBack:
      return u"上次运行被中断，留下了日志 " + j + u"：目标文件已恢复到那次运行之前的样子";
    case Recovered::kFinished: return u"已完成的运行留下了日志 " + j + u"：已删除，没有应用";
    case Recovered::kDamaged:
      return u"日志 " + j + u" 已损坏：已改名为 " + aside + u" 放在一边，没有应用";
    case Recovered::kForeign:
      return u"日志 " + j + u" 不是为现在的这个文件做的：已改名为 " + aside +
             u" 放在一边，没有应用";
    case Recovered::kUntrusted:
      return u"日志 " + j + u" 是链接、名字不对或不属于目标文件的所有者：已改名为 " + aside +
             u" 放在一边，没有应用";
    case Recovered::kStuck:
      return u"日志 " + j +
             u" 已损坏、不属于这个文件或不可信，而且无法放到一边：保持原样，没有应用";
    case Recovered::kFailed:
      return u"无法用上次中断运行的日志 " + j + u" 恢复目标文件；日志保留到下次运行，未作任何改动";
    case Recovered::kKept:
      return u"已用上次中断运行的日志 " + j + u" 恢复目标文件，但无法删除日志；没有再做别的";
  }
  return u"";
}

}  // namespace

std::u16string RecoveryText(const Recovery& r, Language language) {
  return language == Language::kChinese ? RecoveryInChinese(r) : RecoveryInEnglish(r);
}

namespace {

std::u16string Words(Language language, Remark what, const std::u16string& journal,
                     const std::u16string& detail, Recovered state) {
  const std::u16string j = u"'" + journal + u"'";
  if (what == Remark::kRecovery) {
    Recovery r;
    r.state = state;
    r.journal = journal;
    r.aside = detail;
    return RecoveryText(r, language);
  }
  if (language == Language::kChinese) {
    switch (what) {
      case Remark::kRecovery: break;
      case Remark::kReadOnly:
        return u"上次运行被中断，留下了日志 " + j + u"；目标文件不可写，无法恢复，未作任何改动";
      case Remark::kNotRetired:
        return u"日志 " + j + u" 既无法清空也无法删除；下次运行会恢复目标文件";
      case Remark::kNotPutBack: return u"无法用日志 " + j + u" 恢复目标文件；日志保留到下次运行";
      case Remark::kStays:
        return u"日志 " + j + u" 无法删除；它已被清空，不会再被应用，下次运行会删除它";
      case Remark::kNoJournal: return u"这次运行没有保留日志：" + detail;
    }
  }
  switch (what) {
    case Remark::kRecovery: break;
    case Remark::kReadOnly:
      return u"an interrupted run left the journal " + j +
             u"; it cannot be put back into a target that cannot be written, and nothing was "
             u"done";
    case Remark::kNotRetired:
      return u"the journal " + j +
             u" could not be emptied nor removed; the next run puts the target back";
    case Remark::kNotPutBack:
      return u"the target could not be put back from its journal " + j +
             u"; the journal stays for the next run";
    case Remark::kStays:
      return u"the journal " + j +
             u" could not be removed; it was emptied, can never be applied, and the next run "
             u"removes it";
    case Remark::kNoJournal: return u"no journal was kept for this run: " + detail;
  }
  return u"";
}

}  // namespace

void SayRemarks(Language language) {
  const RemarkWords english = [](Remark what, const std::u16string& journal,
                                 const std::u16string& detail, Recovered state) {
    return Words(Language::kEnglish, what, journal, detail, state);
  };
  const RemarkWords chinese = [](Remark what, const std::u16string& journal,
                                 const std::u16string& detail, Recovered state) {
    return Words(Language::kChinese, what, journal, detail, state);
  };
  g_remarkWords = language == Language::kChinese ? chinese : english;
}

}  // namespace zelp
