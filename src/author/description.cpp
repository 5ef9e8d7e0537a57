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

}  // namespace zelp::author
