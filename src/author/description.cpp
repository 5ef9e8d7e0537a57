#include "author/description.h"

#include "common/text.h"

namespace zelp::author {

DescriptionError DescriptionFromUtf8(const std::string& bytes, std::u16string& text,
                                     size_t& units) {
  text.clear();
  units = 0;
  size_t skip = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::u16string plain;
  if (!Utf8ToUtf16(bytes.substr(skip), plain)) return DescriptionError::kInvalidUtf8;
  std::u16string out;
  out.reserve(plain.size() + plain.size() / 16);
  for (size_t i = 0; i < plain.size(); ++i) {
    char16_t c = plain[i];
    if (c == 0) return DescriptionError::kNul;
    if (c == u'\n' && (i == 0 || plain[i - 1] != u'\r')) out.push_back(u'\r');
    out.push_back(c);
  }
  units = out.size();
  if (units > kMaxDescriptionUnits) return DescriptionError::kTooLong;
  text.swap(out);
  return DescriptionError::kNone;
}

DescriptionError DescriptionFromBytes(const std::string& bytes, std::u16string& text,
                                      size_t& units) {
  const bool le = bytes.compare(0, 2, "\xFF\xFE") == 0, be = bytes.compare(0, 2, "\xFE\xFF") == 0;
  if (!le && !be) return DescriptionFromUtf8(bytes, text, units);
  text.clear();
  units = 0;
  if (bytes.size() % 2) return DescriptionError::kInvalidUtf16;
  std::u16string wide;
  for (size_t i = 2; i < bytes.size(); i += 2) {
    auto lo = static_cast<unsigned char>(bytes[i + (be ? 1 : 0)]);
    auto hi = static_cast<unsigned char>(bytes[i + (be ? 0 : 1)]);
    wide.push_back(static_cast<char16_t>(lo | hi << 8));
  }
  // Through UTF-8, so that both encodings meet the same rules; an unpaired
  // surrogate would come back as U+FFFD, so it is refused first.
  for (size_t i = 0; i < wide.size(); ++i) {
    bool high = wide[i] >= 0xD800 && wide[i] < 0xDC00, low = wide[i] >= 0xDC00 && wide[i] < 0xE000;
    if (low) return DescriptionError::kInvalidUtf16;
    if (high && (++i >= wide.size() || wide[i] < 0xDC00 || wide[i] >= 0xE000))
      return DescriptionError::kInvalidUtf16;
  }
  return DescriptionFromUtf8(Utf16ToUtf8(wide), text, units);
}

Bilingual DescriptionErrorText(DescriptionError error, const std::u16string& file, size_t units) {
  // {0} the file's name and a space (nothing for typed text), {1} its
  // length, {2} the most that fits.
  auto say = [&](const char16_t* english, const char16_t* chinese) {
    const std::initializer_list<std::u16string> args = {
        file.empty() ? u"" : Quote(file) + u" ", Decimal(static_cast<int64_t>(units)),
        Decimal(static_cast<int64_t>(kMaxDescriptionUnits))};
    return Fill2(english, chinese, args);
  };
  switch (error) {
    case DescriptionError::kNone: return {};
    case DescriptionError::kInvalidUtf8:
      if (file.empty())
        return say(u"the description is not valid UTF-8 (nor UTF-16 with a byte order mark)",
                   u"补丁说明不是有效的 UTF-8（也不是带字节顺序标记的 UTF-16）");
      return say(
          u"the description {0}is not valid UTF-8 (nor UTF-16 with a byte order mark); "
          u"if it was written on a Chinese Windows system, convert it first: "
          u"iconv -f GBK -t UTF-8 {0}> description-utf8.txt",
          u"补丁说明 {0}不是有效的 UTF-8（也不是带字节顺序标记的 UTF-16）；"
          u"如果它是在中文 Windows 上写的，请先转换：iconv -f GBK -t UTF-8 {0}> "
          u"description-utf8.txt");
    case DescriptionError::kInvalidUtf16:
      return say(u"the description {0}is not valid UTF-16", u"补丁说明 {0}不是有效的 UTF-16");
    case DescriptionError::kNul:
      return say(u"the description {0}contains a NUL character", u"补丁说明 {0}含有 NUL 字符");
    case DescriptionError::kTooLong:
      return units ? say(u"the description {0}is too long: {1} UTF-16 units, at most {2} fit",
                         u"补丁说明 {0}太长：{1} 个 UTF-16 单元，最多只能放 {2} 个")
                   : say(u"the description {0}is too long: more than {2} UTF-16 units",
                         u"补丁说明 {0}太长：超过 {2} 个 UTF-16 单元");
  }
  return {};
}

}  // namespace zelp::author
