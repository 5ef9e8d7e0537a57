#include "common/language.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace zelp {

bool LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang,
                        Language& language) {
  for (const char* value : {lcAll, lcMessages, lang}) {
    if (!value || !*value) continue;
    language = std::strncmp(value, "zh", 2) == 0 ? Language::kChinese : Language::kEnglish;
    return true;
  }
  return false;
}

Language LanguageFromEnvironment() {
  Language language = Language::kEnglish;
  LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"),
                     language);
  return language;
}

}  // namespace zelp
