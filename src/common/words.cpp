#include "common/words.h"

#include "common/text.h"

namespace zelp {

std::u16string Fill(const char16_t* pattern, std::initializer_list<std::u16string> args) {
  std::u16string out;
  for (const char16_t* p = pattern; *p; ++p) {
    const size_t n = p[0] == u'{' && p[1] >= u'0' && p[1] <= u'9' && p[2] == u'}'
                         ? static_cast<size_t>(p[1] - u'0')
                         : args.size();
    if (n < args.size()) {
      out += args.begin()[n];
      p += 2;
    } else {
      out += *p;
    }
  }
  return out;
}

Bilingual Fill2(const char16_t* english, const char16_t* chinese,
                std::initializer_list<std::u16string> args) {
  return {Fill(english, args), Fill(chinese, args)};
}

Bilingual CannotOpen(const std::u16string& path) {
  return Fill2(u"cannot open {0}", u"无法打开 {0}", {Quote(path)});
}

Bilingual CannotRead(const std::u16string& path) {
  return Fill2(u"cannot read {0}", u"无法读取 {0}", {Quote(path)});
}

Bilingual CannotWrite(const std::u16string& path) {
  return Fill2(u"cannot write {0}", u"无法写入 {0}", {Quote(path)});
}

Bilingual OutputIsInput(const std::u16string& output, const std::u16string& input) {
  return Fill2(u"the output {0} is the input {1}; choose another name",
               u"输出文件 {0} 就是输入文件 {1}，请换一个名字", {Quote(output), Quote(input)});
}

}  // namespace zelp
