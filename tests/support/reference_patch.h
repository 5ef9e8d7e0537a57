// A second, deliberately plain reading of ZELP 3.0 patches, written apart
// from the engine so that fuzzers and fault sweeps can compare the engine's
// outcome with an independent one: whole vectors, no buffering, no streams,
// the identification parsed by the C library's own sscanf.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace reference {

struct Outcome {
  std::u16string message;         // the one report expected
  std::vector<uint8_t> out;       // the target afterwards
  bool versionUncertain = false;  // a number too long for %d: scanf's overflow is undefined
};

inline uint64_t LoadLe(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// How the identification reads: 0 damaged, 1 older, 2 supported, 3 unknown.
inline int JudgeIdent(const uint8_t field[16], bool& uncertain) {
  char text[17];
  std::memcpy(text, field, 16);
  text[16] = 0;
  // scanf's behaviour for numbers that overflow an int is undefined; such
  // inputs only get the invariant checks, not an exact message.
  int run = 0;
  for (int i = 0; i < 16 && text[i]; ++i) {
    run = (text[i] >= '0' && text[i] <= '9') ? run + 1 : 0;
    if (run > 9) uncertain = true;
  }
  int major = 0, minor = 0;
  if (std::sscanf(text, "KOVA-PATCH%d.%d", &major, &minor) != 2) return 0;
  if (major == 1 || major == 2) return 1;
  if (major == 3 && minor == 0) return 2;
  return 3;
}

struct Write {
  uint64_t position;
  std::vector<uint8_t> data;
};

// Parses a record stream held whole in `s`; the message of the first failure,
// or empty when the end record is reached. `extent` is the end of the farthest
// record that writes a byte (saturated at 2^63 - 1).
inline std::u16string ParseRecords(const std::vector<uint8_t>& s, std::vector<Write>* writes,
                                   uint64_t* extent) {
  size_t at = 0;
  uint64_t position = 0, farthest = 0;
  auto take = [&](size_t n, const uint8_t*& p) {
    if (s.size() - at < n) return false;
    p = s.data() + at;
    at += n;
    return true;
  };
  for (;;) {
    const uint8_t* p;
    if (!take(1, p)) return u"打补丁失败\n补丁文件已损坏(5)";
    uint8_t type = *p;
    if (type == 0x01) {
      if (!take(4, p)) return u"打补丁失败\n补丁文件已损坏(6.1)";
      position += LoadLe(p, 4);
    } else if (type == 0x02) {
      if (!take(8, p)) return u"打补丁失败\n补丁文件已损坏(6.2)";
      position = LoadLe(p, 8);
    } else if (type == 0xFF) {
      if (extent) *extent = farthest;
      return u"";
    } else {
      return u"非法的ZELP补丁文件(2)";
    }
    if (!take(2, p)) return u"打补丁失败\n补丁文件已损坏(7))";
    size_t n = static_cast<size_t>(LoadLe(p, 2));
    if (!take(n, p)) return u"打补丁失败\n补丁文件已损坏(8)";
    if (position >= 0x8000000000000000ull) return u"打补丁失败\n设置ROM文件位置失败";
    if (n) {
      uint64_t end = position + n;
      if (end > 0x7FFFFFFFFFFFFFFFull) end = 0x7FFFFFFFFFFFFFFFull;
      if (end > farthest) farthest = end;
    }
    if (writes) writes->push_back({position, std::vector<uint8_t>(p, p + n)});
  }
}

// The application procedure over a patch held whole in `holder` (the patch
// starting at `base`) and a target `target`, whose storage cannot grow past
// `limit` bytes (a full disk).
inline Outcome Apply(const std::vector<uint8_t>& holder, uint64_t base,
                     const std::vector<uint8_t>& target, int64_t limit) {
  Outcome o;
  o.out = target;
  // A base that cannot be reached leaves the file at 0, where it was opened.
  uint64_t pos = base < 0x8000000000000000ull ? base : 0;
  auto read = [&](size_t n, const uint8_t*& p) {
    if (pos >= holder.size() || holder.size() - pos < n) return false;
    p = holder.data() + pos;
    pos += n;
    return true;
  };
  const uint8_t* p;
  if (!read(16, p)) return o.message = u"ZELP补丁文件已经损坏(1)", o;
  switch (JudgeIdent(p, o.versionUncertain)) {
    case 0: return o.message = u"ZELP补丁文件已经损坏(2)", o;
    case 1: return o.message = u"暂不支持老版本的ZELP补丁文件", o;
    case 3: return o.message = u"未知版本的ZELP补丁文件", o;
  }
  if (!read(8, p)) return o.message = u"补丁文件已损坏(1)", o;
  int64_t targetSize = static_cast<int64_t>(LoadLe(p, 8));
  if (targetSize < 0) return o.message = u"补丁文件已损坏(1)", o;
  if (!read(4, p)) return o.message = u"补丁文件已损坏(2)", o;
  uint32_t crc = static_cast<uint32_t>(LoadLe(p, 4));
  if (crc != 0) {
    uLong actual = crc32(0L, Z_NULL, 0);
    actual = crc32(actual, target.data(), static_cast<uInt>(target.size()));
    if (target.empty() || actual != crc) return o.message = u"目标文件没有通过CRC32验证", o;
  }
  if (!read(4, p)) return o.message = u"补丁文件已损坏(3)", o;
  uint64_t recordsOffset = LoadLe(p, 4);
  if (recordsOffset < 40 || recordsOffset >= holder.size())
    return o.message = u"补丁文件已损坏(4)", o;
  uint64_t recordsAt = base + recordsOffset;
  if (recordsAt >= 0x8000000000000000ull) return o.message = u"设置文件指针错误(1)", o;
  std::vector<uint8_t> stream;
  if (recordsAt < holder.size())
    stream.assign(holder.begin() + static_cast<long>(recordsAt), holder.end());
  std::vector<Write> writes;
  uint64_t extent = 0;
  o.message = ParseRecords(stream, &writes, &extent);
  if (!o.message.empty()) return o;
  uint64_t oldSize = target.size();
  uint64_t finalSize = extent > static_cast<uint64_t>(targetSize) ? extent : targetSize;
  if (finalSize > oldSize && finalSize > static_cast<uint64_t>(limit))
    return o.message = u"改变文件大小失败,可能是磁盘容量不足", o;
  // Truncated to the target size (cut bytes are gone), then grown with zeros.
  if (static_cast<uint64_t>(targetSize) < oldSize) o.out.resize(targetSize);
  o.out.resize(finalSize, 0);
  for (const Write& w : writes)
    if (!w.data.empty())
      std::copy(w.data.begin(), w.data.end(), o.out.begin() + static_cast<long>(w.position));
  o.message = u"补丁成功";
  return o;
}

// What LoadPatchInfo yields over the same kind of holder.
struct Info {
  bool ok = false;
  std::u16string version, description, summary;
};

inline Info LoadInfo(const std::vector<uint8_t>& holder, uint64_t base) {
  Info r;
  if (base >= 0x8000000000000000ull) return r;
  uint64_t pos = base;
  auto read = [&](size_t n, const uint8_t*& p) {
    if (pos >= holder.size() || holder.size() - pos < n) return false;
    p = holder.data() + pos;
    pos += n;
    return true;
  };
  const uint8_t* p;
  if (!read(16, p)) return r;
  bool uncertain = false;
  int judged = JudgeIdent(p, uncertain);
  if (judged == 0) return r;
  for (int i = 0; i < 16 && p[i]; ++i) r.version.push_back(p[i]);  // Latin-1
  if (judged != 2) return r;
  if (!read(8, p)) return r;
  int64_t size = static_cast<int64_t>(LoadLe(p, 8));
  if (!read(4, p)) return r;
  uint32_t crc = static_cast<uint32_t>(LoadLe(p, 4));
  if (!read(4, p)) return r;
  uint64_t recordsOffset = LoadLe(p, 4);
  if (recordsOffset < 40 || recordsOffset >= holder.size()) return r;
  if (!read(8, p)) return r;
  uint64_t descriptionOffset = LoadLe(p, 8);
  uint64_t at = base + descriptionOffset;  // 64-bit addition, wrapping
  if (descriptionOffset != 0 && at < 0x8000000000000000ull) {
    for (uint64_t i = at; i < holder.size() && i < at + 65536; i += 2) {
      char16_t unit = holder[i];
      if (i + 1 < holder.size()) unit |= static_cast<char16_t>(holder[i + 1] << 8);
      if (unit == 0) break;
      r.description.push_back(unit);
    }
  }
  char line[64];
  r.summary = u"补丁版本: " + r.version + u"\r\n目标文件的CRC32验证: ";
  if (crc) {
    std::snprintf(line, sizeof line, "%08X", crc);
    r.summary += std::u16string(line, line + std::strlen(line));
  } else {
    r.summary += u"无";
  }
  std::snprintf(line, sizeof line, "%lld", static_cast<long long>(size));
  r.summary += u"\r\n打补丁后的文件大小: " + std::u16string(line, line + std::strlen(line));
  r.ok = true;
  return r;
}

}  // namespace reference
