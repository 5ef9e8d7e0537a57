#include "common/text.h"

#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

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

char16_t* AnsiToWide(const char* s) {
#ifdef _WIN32
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  auto* out = new char16_t[n];
  MultiByteToWideChar(CP_ACP, 0, s, -1, reinterpret_cast<wchar_t*>(out), n);
  return out;
#else
  size_t n = std::strlen(s);
  auto* out = new char16_t[n + 1];
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(s[i]);
  out[n] = 0;
  return out;
#endif
}

}  // namespace zelp
