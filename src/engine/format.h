// The ZELP 3.0 patch format: a 40-byte header, a record stream and a UTF-16LE
// description, all at offsets counted from the patch base.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelp {

constexpr uint32_t kHeaderSize = 40;
constexpr size_t kIdentSize = 16;
constexpr char kIdentPrefix[] = "KOVA-PATCH";

// Header field offsets.
constexpr uint32_t kOffTargetSize = 16;
constexpr uint32_t kOffTargetCrc = 24;
constexpr uint32_t kOffRecords = 28;
constexpr uint32_t kOffDescription = 32;

// Record types.
constexpr uint8_t kRecRelative = 0x01;
constexpr uint8_t kRecAbsolute = 0x02;
constexpr uint8_t kRecEnd = 0xFF;
constexpr uint32_t kMaxRecordData = 65535;

// The description is read up to this many bytes (32,768 units).
constexpr uint32_t kDescriptionBytes = 65536;

// Parses a NUL-terminated identification as scanf's "KOVA-PATCH%d.%d" would:
// the prefix must match literally; white space and a sign may precede each
// number; anything after the minor number is ignored. Returns how many
// numbers converted (0, 1 or 2). Numbers too large for an int saturate.
int ParseIdentification(const char* text, int& major, int& minor);

enum class Version { kSupported, kOlder, kUnknown };
Version JudgeVersion(int major, int minor);

// Little-endian loads and stores.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) {
  return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Positions of 2^63 or more cannot be reached by Seek.
constexpr uint64_t kUnreachable = 0x8000000000000000ull;

}  // namespace zelp
