// The conversions between UTF-16 and 8-bit text (ASCII, UTF-8, native file
// names). Apart from text.cpp, so that a program that needs none of them
// (the patch program) does not link the library's std::string code.
#include <cstdint>
#include <cstring>

#include "common/text.h"

namespace zelp {

std::u16string AsciiToUtf16(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

namespace {

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when invalid.
size_t DecodeUtf8(const unsigned char* s, size_t n, size_t i, uint32_t& cp) {
  unsigned char c = s[i];
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  uint32_t min;
  if ((c & 0xE0) == 0xC0) {
    len = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendCodePoint(std::u16string& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Walks UTF-16; calls f(code point) or f(-1 - unit) for a lone surrogate.
template <class F>
void WalkUtf16(const char16_t* s, size_t n, F f) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      f(static_cast<int64_t>(0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00)));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      f(-1 - static_cast<int64_t>(u));
    } else {
      f(static_cast<int64_t>(u));
    }
  }
}

}  // namespace

bool Utf8ToUtf16(const std::string& in, std::u16string& out) {
  out.clear();
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  for (size_t i = 0; i < in.size();) {
    uint32_t cp;
    size_t len = DecodeUtf8(s, in.size(), i, cp);
    if (!len) return false;
    AppendCodePoint(out, cp);
    i += len;
  }
  return true;
}

std::string Utf16ToUtf8(const std::u16string& in) {
  std::string out;
  out.reserve(in.size() * 3);
  WalkUtf16(in.data(), in.size(), [&](int64_t cp) { AppendUtf8(out, cp < 0 ? 0xFFFD : cp); });
  return out;
}

std::string Utf16ToUtf8(const char16_t* in) { return Utf16ToUtf8(std::u16string(in)); }

std::u16string PathFromNative(const std::string& bytes) {
  std::u16string out;
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    uint32_t cp;
    size_t len = DecodeUtf8(s, bytes.size(), i, cp);
    if (len) {
      AppendCodePoint(out, cp);
      i += len;
    } else {
      out.push_back(static_cast<char16_t>(0xDC00 + s[i]));  // escape: s[i] >= 0x80 here
      ++i;
    }
  }
  return out;
}

bool PathToNative(const std::u16string& path, std::string& bytes) {
  bytes.clear();
  bool ok = true;
  WalkUtf16(path.data(), path.size(), [&](int64_t cp) {
    if (cp == 0) {
      ok = false;
    } else if (cp < 0) {
      uint32_t u = static_cast<uint32_t>(-1 - cp);
      if (u >= 0xDC80 && u <= 0xDCFF)
        bytes.push_back(static_cast<char>(u - 0xDC00));
      else
        ok = false;
    } else {
      AppendUtf8(bytes, static_cast<uint32_t>(cp));
    }
  });
  if (!ok) return false;
  // An escaped byte must not join its neighbours into a valid sequence that
  // decodes differently; a round trip proves the path names exactly this.
  return PathFromNative(bytes) == path;
}

std::u16string CrLfToLf(const std::u16string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n') continue;
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace zelp
