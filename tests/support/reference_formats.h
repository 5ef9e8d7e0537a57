// A second, deliberately plain reading of IPS, UPS and BPS patches, written
// apart from the engine's streaming codecs: whole vectors, one byte at a
// time, zlib's CRC-32. Tests and fuzzers compare the engine with it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace reference {

using Bytes = std::vector<uint8_t>;

inline uint32_t Crc(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

// The patch's bytes with a cursor; any read past the end sets `bad`.
struct Cursor {
  const Bytes& p;
  size_t at = 0, end;
  bool bad = false;
  Cursor(const Bytes& patch, size_t stop) : p(patch), end(stop) {}
  uint8_t Byte() {
    if (at >= end) return bad = true, 0;
    return p[at++];
  }
  uint64_t Number() {
    uint64_t value = 0, shift = 1;
    for (int i = 0; i < 10 && !bad; ++i) {
      uint8_t x = Byte();
      value += (x & 0x7F) * shift;
      if (x & 0x80) return value;
      shift <<= 7;
      value += shift;
    }
    bad = true;  // longer than any 64-bit number
    return 0;
  }
  uint32_t Le32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{Byte()} << (8 * i);
    return v;
  }
};

inline bool ApplyIps(const Bytes& patch, const Bytes& source, Bytes& out) {
  if (patch.size() < 5 || std::memcmp(patch.data(), "PATCH", 5) != 0) return false;
  out = source;
  Cursor c(patch, patch.size());
  c.at = 5;
  for (;;) {
    uint32_t offset = c.Byte() << 16;
    offset |= c.Byte() << 8;
    offset |= c.Byte();
    if (c.bad) return false;
    size_t left = patch.size() - c.at;
    if (offset == 0x454F46 && (left == 0 || left == 3)) {
      if (left == 3)
        out.resize(uint32_t{patch[c.at]} << 16 | patch[c.at + 1] << 8 | patch[c.at + 2]);
      return true;
    }
    uint32_t length = c.Byte() << 8;
    length |= c.Byte();
    bool run = length == 0;
    if (run) {
      length = c.Byte() << 8;
      length |= c.Byte();
    }
    uint8_t value = run ? c.Byte() : 0;
    for (uint32_t i = 0; i < length; ++i) {
      uint8_t b = run ? value : c.Byte();
      if (c.bad) return false;
      if (out.size() <= offset + i) out.resize(offset + i + 1, 0);
      out[offset + i] = b;
    }
    if (c.bad) return false;
  }
}

// The three CRC-32s at the end, the last over everything before it.
inline bool FooterHolds(const Bytes& patch, const Bytes& source, const Bytes& target) {
  Cursor c(patch, patch.size());
  c.at = patch.size() - 12;
  uint32_t s = c.Le32(), t = c.Le32(), self = c.Le32();
  return s == Crc(source.data(), source.size()) && t == Crc(target.data(), target.size()) &&
         self == Crc(patch.data(), patch.size() - 4);
}

// `footer` false: the three CRC-32s are not compared (a fuzzer then seals
// the patch with the result's).
inline bool ApplyUps(const Bytes& patch, const Bytes& source, Bytes& out, bool footer = true) {
  if (patch.size() < 16 || std::memcmp(patch.data(), "UPS1", 4) != 0) return false;
  Cursor c(patch, patch.size() - 12);
  c.at = 4;
  uint64_t sourceSize = c.Number(), targetSize = c.Number();
  if (c.bad || sourceSize != source.size()) return false;
  uint64_t most = sourceSize > targetSize ? sourceSize : targetSize;
  Bytes whole(source);
  whole.resize(most, 0);
  uint64_t pos = 0;
  while (c.at < c.end) {
    uint64_t skip = c.Number();
    if (c.bad || skip > most - pos) return false;
    pos += skip;
    for (;;) {
      uint8_t x = c.Byte();
      if (c.bad || pos > most || (x != 0 && pos == most)) return false;
      if (pos < most) whole[pos] ^= x;
      ++pos;
      if (x == 0) break;
    }
  }
  whole.resize(targetSize);
  out = whole;
  return !footer || FooterHolds(patch, source, out);
}

inline bool ApplyBps(const Bytes& patch, const Bytes& source, Bytes& out, bool footer = true) {
  if (patch.size() < 16 || std::memcmp(patch.data(), "BPS1", 4) != 0) return false;
  Cursor c(patch, patch.size() - 12);
  c.at = 4;
  uint64_t sourceSize = c.Number(), targetSize = c.Number(), metadata = c.Number();
  if (c.bad || sourceSize != source.size() || metadata > c.end - c.at) return false;
  c.at += metadata;
  out.clear();
  int64_t sourceRel = 0, targetRel = 0;
  while (c.at < c.end) {
    uint64_t command = c.Number();
    uint64_t length = (command >> 2) + 1;
    if (c.bad || length > targetSize - out.size()) return false;
    int action = command & 3;
    if (action >= 2) {
      uint64_t d = c.Number();
      if (c.bad) return false;
      int64_t& rel = action == 2 ? sourceRel : targetRel;
      if ((d >> 1) > (uint64_t{1} << 40)) return false;  // far past any test's file
      int64_t step = static_cast<int64_t>(d >> 1);
      rel += (d & 1) ? -step : step;
      if (rel < 0) return false;
    }
    for (uint64_t i = 0; i < length; ++i) {
      if (action == 0) {
        if (out.size() >= source.size()) return false;
        out.push_back(source[out.size()]);
      } else if (action == 1) {
        uint8_t b = c.Byte();
        if (c.bad) return false;
        out.push_back(b);
      } else if (action == 2) {
        if (static_cast<uint64_t>(sourceRel) >= source.size()) return false;
        out.push_back(source[sourceRel++]);
      } else {
        if (static_cast<uint64_t>(targetRel) >= out.size()) return false;
        out.push_back(out[targetRel++]);
      }
    }
  }
  return out.size() == targetSize && (!footer || FooterHolds(patch, source, out));
}

}  // namespace reference
