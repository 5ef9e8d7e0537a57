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

std::u16string DescriptionErrorText(DescriptionError error, const std::u16string& file,
                                    size_t units) {
  const std::u16string name =
      file.empty() ? std::u16string(u"the description ") : u"the description " + Quote(file) + u" ";
  const std::u16string most = Decimal(kMaxDescriptionUnits);
  switch (error) {
    case DescriptionError::kNone: return u"";
    case DescriptionError::kInvalidUtf8:
      return name + u"is not valid UTF-8 (nor UTF-16 with a byte order mark)" +
             (file.empty() ? u""
                           : u"; if it was written on a Chinese Windows system, convert it first: "
                             u"iconv -f GBK -t UTF-8 " +
                                 Quote(file) + u" > description-utf8.txt");
    case DescriptionError::kInvalidUtf16: return name + u"is not valid UTF-16";
    case DescriptionError::kNul: return name + u"contains a NUL character";
    case DescriptionError::kTooLong:
      return name + u"is too long: " +
             (units ? Decimal(static_cast<int64_t>(units)) + u" UTF-16 units, at most " + most +
                          u" fit"
                    : u"more than " + most + u" UTF-16 units");
  }
  return u"";
}

}  // namespace zelp::author
