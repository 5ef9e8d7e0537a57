// Pointer conversions at the Windows boundary, where wchar_t is UTF-16.
#pragma once

#ifdef _WIN32
#include <cwchar>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be 16 bits on Windows");

inline const wchar_t* as_wcstr(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }
inline wchar_t* as_wcstr(char16_t* s) { return reinterpret_cast<wchar_t*>(s); }
inline const char16_t* as_u16cstr(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }
inline char16_t* as_u16cstr(wchar_t* s) { return reinterpret_cast<char16_t*>(s); }
#endif
