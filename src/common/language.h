// The language of the explanations: Chinese when the user's locale says so,
// English otherwise. The program's own report texts are the same in both.
#pragma once

namespace zelp {

enum class Language { kEnglish, kChinese };

// Chooses from the locale variables as POSIX ranks them: the first of
// LC_ALL, LC_MESSAGES and LANG that is set and not empty decides ("zh..."
// is Chinese); null stands for unset. False when none is set.
bool LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang,
                        Language& language);

// The same from the process's environment; English when nothing is set.
Language LanguageFromEnvironment();

}  // namespace zelp
