#include "engine/format.h"

#include <climits>
#include <cstring>

namespace zelp {

namespace {

bool IsScanfSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// One %d conversion: skips white space, takes an optional sign and at least
// one digit. Advances `p` past what it consumed; false when nothing converts.
bool ScanInt(const char*& p, int& out) {
  const char* s = p;
  while (IsScanfSpace(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  if (*s < '0' || *s > '9') return false;
  long long v = 0;
  for (; *s >= '0' && *s <= '9'; ++s) {
    if (v <= INT_MAX) v = v * 10 + (*s - '0');
  }
  if (negative) v = -v;
  out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  p = s;
  return true;
}

}  // namespace

int ParseIdentification(const char* text, int& major, int& minor) {
  size_t n = std::strlen(kIdentPrefix);
  if (std::strncmp(text, kIdentPrefix, n) != 0) return 0;
  const char* p = text + n;
  if (!ScanInt(p, major)) return 0;
  if (*p != '.') return 1;
  ++p;
  if (!ScanInt(p, minor)) return 1;
  return 2;
}

Version JudgeVersion(int major, int minor) {
  if (major == 1 || major == 2) return Version::kOlder;
  if (major == 3 && minor == 0) return Version::kSupported;
  return Version::kUnknown;
}

}  // namespace zelp
