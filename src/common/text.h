// UTF-16 text helpers shared by every layer. The core's text unit is char16_t
// on every platform; conversions to and from 8-bit text are explicit here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelp {

// Copies src including its terminator; returns the units copied before it.
size_t WideCopy(char16_t* dst, const char16_t* src);

// Length of a terminated UTF-16 string, in units.
size_t WideLen(const char16_t* s);

// Converts a NUL-terminated 8-bit string with the system ANSI code page into
// a new[]-allocated UTF-16 string (release with delete[]). Off Windows the
// bytes are taken as Latin-1. Null when the platform reports no length.
char16_t* AnsiToWide(const char* s);

// Strict UTF-8 -> UTF-16: false on any malformed, overlong or surrogate
// sequence, leaving out unspecified.
bool Utf8ToUtf16(const std::string& in, std::u16string& out);

// UTF-16 -> UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& in);
std::string Utf16ToUtf8(const char16_t* in);

// Native (Linux) file names are bytes; UTF-16 paths must round-trip them.
// Bytes that are not valid UTF-8 become the lone low surrogates
// U+DC80..U+DCFF, and come back as the same bytes.
std::u16string PathFromNative(const std::string& bytes);
// False when the UTF-16 path cannot name a native file (a lone surrogate that
// is no escape, or an embedded NUL): never open a different file instead.
bool PathToNative(const std::u16string& path, std::string& bytes);

// ASCII text (one unit per byte), decimal numbers, and 32-bit numbers as
// eight upper-case hexadecimal digits, as UTF-16.
std::u16string AsciiToUtf16(const std::string& ascii);
std::u16string Decimal(int64_t n);
std::u16string Hex32(uint32_t n);
// A decimal number with its thousands grouped: "4,194,304".
std::u16string Grouped(int64_t n);

// A file name as every message shows it: 'name'.
std::u16string Quote(const std::u16string& name);

// The folder that holds `path` ("." when it names none, "/" for the root)
// and the last part of it, for UTF-16 and native (byte) paths alike. Both
// separators count on Windows.
template <class String>
size_t LastSeparator(const String& path) {
  using Char = typename String::value_type;
#ifdef _WIN32
  const Char separators[] = {Char('/'), Char('\\'), Char(0)};
  return path.find_last_of(separators);
#else
  return path.find_last_of(Char('/'));
#endif
}
template <class String>
String FolderOf(const String& path) {
  using Char = typename String::value_type;
  size_t slash = LastSeparator(path);
  if (slash == String::npos) return String(1, Char('.'));
  // A root keeps its separator: "/", and on Windows "C:\\".
  bool root = slash == 0;
#ifdef _WIN32
  root = root || path[slash - 1] == Char(':');
#endif
  return path.substr(0, root ? slash + 1 : slash);
}
template <class String>
String NameOf(const String& path) {
  size_t slash = LastSeparator(path);
  return slash == String::npos ? path : path.substr(slash + 1);
}

// CR LF -> LF, for printing texts made for message boxes on a terminal.
std::u16string CrLfToLf(const std::u16string& s);

}  // namespace zelp
