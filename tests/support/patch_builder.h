// Builds ZELP patch bytes by hand, field by field, for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class PatchBuilder {
 public:
  std::vector<uint8_t> bytes;

  // The 40-byte header with the given identification text (NUL-padded).
  PatchBuilder& Header(int64_t targetSize, uint32_t crc, uint32_t recordsOffset = 40,
                       uint64_t descriptionOffset = 0, const std::string& ident = "KOVA-PATCH3.0") {
    std::string id = ident;
    id.resize(16, '\0');
    bytes.insert(bytes.end(), id.begin(), id.end());
    U64(static_cast<uint64_t>(targetSize));
    U32(crc);
    U32(recordsOffset);
    U64(descriptionOffset);
    return *this;
  }
  PatchBuilder& Rel(uint32_t distance, const std::vector<uint8_t>& data) {
    bytes.push_back(0x01);
    U32(distance);
    return Data(data);
  }
  PatchBuilder& Abs(uint64_t position, const std::vector<uint8_t>& data) {
    bytes.push_back(0x02);
    U64(position);
    return Data(data);
  }
  PatchBuilder& End() {
    bytes.push_back(0xFF);
    return *this;
  }
  PatchBuilder& Raw(const std::vector<uint8_t>& raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
  }
  // UTF-16LE text and its 0x0000 terminator.
  PatchBuilder& Description(const std::u16string& text) {
    for (char16_t c : text) {
      bytes.push_back(static_cast<uint8_t>(c));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    return *this;
  }
  // Patches a little-endian field in place (e.g. the description offset once
  // the records are known).
  PatchBuilder& SetU64(size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  PatchBuilder& SetU32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }

 private:
  PatchBuilder& Data(const std::vector<uint8_t>& data) {
    bytes.push_back(static_cast<uint8_t>(data.size()));
    bytes.push_back(static_cast<uint8_t>(data.size() >> 8));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return *this;
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
};

// `n` bytes of program (0x4D), then the patch: a patch carried by a program.
// Sized once and copied into: GCC 12 at -O3 takes an insert at the end of a
// sized vector for an access out of bounds (-Warray-bounds).
inline std::vector<uint8_t> WithPrefix(size_t n, const std::vector<uint8_t>& patch) {
  std::vector<uint8_t> v(n + patch.size(), 0x4D);
  std::copy(patch.begin(), patch.end(), v.begin() + static_cast<std::ptrdiff_t>(n));
  return v;
}
