// Writes IPS, UPS and BPS patches (see engine/foreign.h for the formats).
// Both files are held in memory while the patch is made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/foreign.h"

namespace zelp::author {

struct ForeignStats {
  uint64_t steps = 0;         // records, hunks or actions
  uint64_t literalBytes = 0;  // bytes of the modified file carried in the patch
};

// The patch of `kind` (IPS, UPS or BPS) that turns `original` into
// `modified`, appended to `patch`; BPS carries `metadata`. False with the
// reason in `error` when the format cannot hold the change (IPS: offsets of
// 16 MiB and more).
bool EncodeForeign(PatchKind kind, const std::vector<uint8_t>& original,
                   const std::vector<uint8_t>& modified, const std::string& metadata,
                   std::vector<uint8_t>& patch, ForeignStats& stats, std::u16string& error);

}  // namespace zelp::author
