#include "common/text.h"

#include <cstdint>

namespace zelp {

size_t WideCopy(char16_t* dst, const char16_t* src) {
  size_t n = 0;
  while ((dst[n] = src[n]) != 0) ++n;
  return n;
}

size_t WideLen(const char16_t* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

namespace {

// Digits by hand, not through std::to_string or printf: the patch program
// would link their library code (tens of KiB) for this alone.
std::u16string Digits(uint64_t value, unsigned base, int width, bool negative = false) {
  char16_t digits[21];
  int n = 0;
  do {
    digits[n++] = u"0123456789ABCDEF"[value % base];
    value /= base;
  } while (value != 0 || n < width);
  if (negative) digits[n++] = u'-';
  std::u16string s;
  while (n > 0) s += digits[--n];
  return s;
}

}  // namespace

std::u16string Decimal(int64_t n) {
  uint64_t magnitude = n < 0 ? 0 - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  return Digits(magnitude, 10, 1, n < 0);
}

std::u16string Hex32(uint32_t n) { return Digits(n, 16, 8); }

std::u16string Grouped(int64_t n) {
  const std::u16string digits = Decimal(n);
  const size_t first = n < 0 ? 1 : 0;
  std::u16string s = digits.substr(0, first);
  for (size_t i = first; i < digits.size(); ++i) {
    if (i > first && (digits.size() - i) % 3 == 0) s += u',';
    s += digits[i];
  }
  return s;
}

std::u16string Quote(const std::u16string& name) { return u"'" + name + u"'"; }

}  // namespace zelp
