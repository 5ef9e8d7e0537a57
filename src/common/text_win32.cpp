#include <windows.h>

#include "common/text.h"

namespace zelp {

char16_t* AnsiToWide(const char* s) {
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  if (n <= 0) return nullptr;
  auto* out = new char16_t[n];
  MultiByteToWideChar(CP_ACP, 0, s, -1, reinterpret_cast<wchar_t*>(out), n);
  return out;
}

}  // namespace zelp
