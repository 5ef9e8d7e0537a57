// The engine's remarks in words: only the zelp tool says them (the Windows
// program says nothing beyond its report, and carries none of these words).
#include <type_traits>

#include "common/words.h"
#include "engine/journal.h"

namespace zelp {

namespace {

// The words of `key` (a Recovered state or a Remark) in `language`; "" for
// those that say nothing of their own.
template <class Key>
const char16_t* Pattern(Key key, Language language) {
  const bool zh = language == Language::kChinese;
#define ZELP_WORDS(type, name, english, chinese) \
  if constexpr (std::is_same_v<Key, type>)       \
    if (key == type::name) return zh ? chinese : english;
#include "engine/remarks.def"
#undef ZELP_WORDS
  return u"";
}

std::u16string Named(const std::u16string& name) { return u"'" + name + u"'"; }

Language g_language = Language::kEnglish;

std::u16string InLanguage(Remark what, const std::u16string& journal, const std::u16string& detail,
                          Recovered state) {
  if (what == Remark::kRecovery) {
    Recovery r;
    r.state = state;
    r.journal = journal;
    r.aside = detail;
    return RecoveryText(r, g_language);
  }
  return Fill(Pattern(what, g_language), {Named(journal), u"", detail});
}

}  // namespace

std::u16string RecoveryText(const Recovery& r, Language language) {
  return Fill(Pattern(r.state, language), {Named(r.journal), Named(r.aside)});
}

void SayRemarks(Language language) {
  g_language = language;
  g_remarkWords = InLanguage;
}

}  // namespace zelp
