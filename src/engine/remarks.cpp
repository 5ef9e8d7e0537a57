// The engine's remarks in words: only the zelp tool says them (the Windows
// program says nothing beyond its report, and carries none of these words).
#include "engine/journal.h"

namespace zelp {

std::u16string RecoveryText(const Recovery& r) {
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

namespace {

std::u16string Words(Remark what, const std::u16string& journal, const std::u16string& detail,
                     Recovered state) {
  const std::u16string j = u"'" + journal + u"'";
  switch (what) {
    case Remark::kRecovery: {
      Recovery r;
      r.state = state;
      r.journal = journal;
      r.aside = detail;
      return RecoveryText(r);
    }
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

void SayRemarks() { g_remarkWords = Words; }

}  // namespace zelp
