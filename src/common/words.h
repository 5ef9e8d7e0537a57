// Messages in both languages, for the layers below the one that knows the
// reader's (file, engine, author): the command line says one of them, the
// page keeps both for its switch.
#pragma once

#include <initializer_list>
#include <string>

#include "common/language.h"

namespace zelp {

struct Bilingual {
  std::u16string english, chinese;
  const std::u16string& In(Language language) const {
    return language == Language::kChinese ? chinese : english;
  }
};

// `pattern` with "{0}" … "{9}" replaced by `args` in that order: one text
// per language, the words in the order the language puts them.
std::u16string Fill(const char16_t* pattern, std::initializer_list<std::u16string> args);

// Both languages' patterns filled with the same `args`.
Bilingual Fill2(const char16_t* english, const char16_t* chinese,
                std::initializer_list<std::u16string> args);

// The phrases every layer says about files, with the file quoted.
Bilingual CannotOpen(const std::u16string& path);
Bilingual CannotRead(const std::u16string& path);
Bilingual CannotWrite(const std::u16string& path);
// The output names the same file as an input: refused.
Bilingual OutputIsInput(const std::u16string& output, const std::u16string& input);

}  // namespace zelp
