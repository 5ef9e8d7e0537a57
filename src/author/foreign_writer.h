// Writes IPS, UPS and BPS patches (see engine/foreign.h for the formats).
// Both files are in memory (see file/whole_file.h) while the patch is made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/words.h"
#include "engine/foreign.h"

namespace zelp::author {

struct ForeignStats {
  uint64_t steps = 0;         // records, hunks or actions
  uint64_t literalBytes = 0;  // bytes of the modified file carried in the patch
};

// Bytes in memory (a vector, a mapped file).
struct Bytes {
  const uint8_t* p;
  size_t n;
  Bytes(const uint8_t* data, size_t size) : p(data), n(size) {}
  Bytes(const std::vector<uint8_t>& v) : p(v.data()), n(v.size()) {}  // NOLINT: a view of it
  size_t size() const { return n; }
  const uint8_t* data() const { return p; }
  const uint8_t& operator[](size_t i) const { return p[i]; }
};

// The patch of `kind` (IPS, UPS or BPS) that turns `original` into
// `modified`, appended to `patch`; BPS carries `metadata`. False with the
// reason in `error` when the format cannot hold the change (IPS: offsets of
// 16 MiB and more).
bool EncodeForeign(PatchKind kind, const Bytes& original, const Bytes& modified,
                   const std::string& metadata, std::vector<uint8_t>& patch, ForeignStats& stats,
                   Bilingual& error);

}  // namespace zelp::author
