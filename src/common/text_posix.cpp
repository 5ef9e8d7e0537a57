#include <cstring>

#include "common/text.h"

namespace zelp {

// Off Windows there is no ANSI code page: the bytes are taken as Latin-1.
char16_t* AnsiToWide(const char* s) {
  size_t n = std::strlen(s);
  auto* out = new char16_t[n + 1];
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(s[i]);
  out[n] = 0;
  return out;
}

}  // namespace zelp
