// Shared by the fuzz targets: a report sink that counts, and a loud stop
// when an invariant breaks (libFuzzer keeps the input that caused it).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/report.h"
#include "common/text.h"

namespace fuzz {

struct Reports {
  std::vector<std::u16string> texts;
  zelp::ReportRoute route{&Reports::Record, this};
  static void Record(void*, const char16_t* text, void* self) {
    static_cast<Reports*>(self)->texts.emplace_back(text);
  }
};

[[noreturn]] inline void Broken(const char* what, const std::u16string& detail = u"") {
  std::fprintf(stderr, "invariant broken: %s %s\n", what, zelp::Utf16ToUtf8(detail).c_str());
  std::abort();
}

inline void Check(bool ok, const char* what, const std::u16string& detail = u"") {
  if (!ok) Broken(what, detail);
}

}  // namespace fuzz
