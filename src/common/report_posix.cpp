#include <cstdio>
#include <string>

#include "common/report.h"
#include "common/text.h"

namespace zelp {

void PlatformReport(void*, const char16_t* text) {
  std::string s = Utf16ToUtf8(text);
  std::fprintf(stderr, "%s\n", s.c_str());
}

}  // namespace zelp
