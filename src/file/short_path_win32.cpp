// Short (8.3) forms of paths, built one component at a time so that every
// directory on the way is replaced by its platform alias.
#include <windows.h>

#include "common/text.h"
#include "common/win_text.h"
#include "file/file.h"
#include "file/short_path.h"

namespace zelp {

namespace {

// The path built so far (W, with its length L).
struct Building {
  char16_t w[kPathUnits] = {};
  size_t len = 0;

  void Append(const char16_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i) w[len++] = s[i];
    w[len] = 0;
  }
  // W := its short form. A result that does not fit the buffer, terminator
  // included, is a failure like any other.
  bool Shorten() {
    char16_t s[kPathUnits];
    DWORD n = GetShortPathNameW(as_wcstr(w), as_wcstr(s), kPathUnits);
    if (n == 0 || n >= static_cast<DWORD>(kPathUnits)) return false;
    len = WideCopy(w, s);
    return true;
  }
};

size_t UnitsBeforeSeparator(const char16_t* s) {
  size_t k = 0;
  while (s[k] && s[k] != u'\\') ++k;
  return s[k] ? k : static_cast<size_t>(-1);
}

DWORD Attributes(const char16_t* path) { return GetFileAttributesW(as_wcstr(path)); }

// Attributes of W followed by `rest`, which fits (the callers checked).
DWORD AttributesWith(const Building& b, const char16_t* rest) {
  char16_t probe[kPathUnits];
  WideCopy(probe, b.w);
  WideCopy(probe + b.len, rest);
  return Attributes(probe);
}

int Finish(const Building& b, char16_t* out) {
  if (Attributes(b.w) == INVALID_FILE_ATTRIBUTES) return 0;
  WideCopy(out, b.w);
  return 1;
}

}  // namespace

int FullShortPath(const char16_t* path, char16_t* out) {
  out[0] = 0;
  Building b;
  const char16_t* rest = path;
  for (size_t k; (k = UnitsBeforeSeparator(rest)) != static_cast<size_t>(-1);) {
    if (b.len + k + 1 >= static_cast<size_t>(kPathUnits)) return 0;
    b.Append(rest, k);
    rest += k + 1;
    if (*rest) b.Append(u"\\", 1);
    if (!b.Shorten()) return 0;
  }
  if (*rest) {
    size_t n = WideLen(rest);
    if (b.len + n + 1 >= static_cast<size_t>(kPathUnits)) return 0;
    b.Append(rest, n);
    if (!b.Shorten()) return 0;
  }
  return Finish(b, out);
}

int DirShortPath(const char16_t* path, char16_t* out) {
  out[0] = 0;
  Building b;
  const char16_t* rest = path;
  for (size_t k; (k = UnitsBeforeSeparator(rest)) != static_cast<size_t>(-1);) {
    if (k + b.len + 1 >= static_cast<size_t>(kPathUnits)) return 0;
    if (rest[k + 1] == 0) {
      // The last component, written with a trailing separator.
      DWORD a = AttributesWith(b, rest);
      if (a == INVALID_FILE_ATTRIBUTES) return 0;
      if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
        rest += k + 1;  // a file: only its directory belongs to the result
        break;
      }
    }
    b.Append(rest, k + 1);
    rest += k + 1;
    if (!b.Shorten()) return 0;
  }
  if (*rest) {
    size_t n = WideLen(rest);
    if (b.len + n + 1 >= static_cast<size_t>(kPathUnits)) return 0;
    DWORD a = AttributesWith(b, rest);
    if (a == INVALID_FILE_ATTRIBUTES) return 0;
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
      b.Append(rest, n);
      b.Append(u"\\", 1);
    }
  }
  return Finish(b, out);
}

int FallbackPath(const char16_t* path, int mode, char16_t* out) {
  out[0] = 0;
  if (mode != kModeCreate) return FullShortPath(path, out);
  // For a file to be created only the directory is shortened; its own name
  // follows as given.
  const char16_t* last = nullptr;
  for (const char16_t* p = path; *p; ++p)
    if (*p == u'\\') last = p;
  if (!last || !DirShortPath(path, out)) return 0;
  size_t dirLen = WideLen(out);
  if (dirLen + WideLen(last + 1) + 1 > static_cast<size_t>(kPathUnits)) {
    out[0] = 0;
    return 0;
  }
  WideCopy(out + dirLen, last + 1);
  return 1;
}

}  // namespace zelp
