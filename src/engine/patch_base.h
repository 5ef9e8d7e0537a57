// Where the patch begins in a file the user names: a bare patch, or a
// program that carries one behind its stamped patch offset (engine/stamp.h).
#pragma once

#include <cstdint>
#include <vector>

#include "engine/outcome.h"
#include "file/xfile.h"

namespace zelp {

struct StampInfo {
  int64_t fileSize = 0;
  int64_t markerAt = 0;  // where the marker starts
  uint64_t value = 0;    // the stamped patch offset
  // The program image: up to the stamped offset when it marks an appended
  // patch (hasPatch), else the whole file.
  int64_t imageSize = 0;
  bool hasPatch = false;
  int markers = 0;  // occurrences of the marker inside the image
};

enum class StampStatus { kOk, kRead, kNoMarker, kManyMarkers, kCutShort };

constexpr size_t kMarkerSize = 16;
constexpr size_t kKeep = 64;  // occurrences remembered; more is refused anyway

// Finds every occurrence of the 16-byte `needle` in the first `end` bytes:
// their count in `total`, the first kKeep positions in `found`.
bool ScanMarker(CKOVA_xFile& file, int64_t end, const uint8_t* needle, std::vector<int64_t>& found,
                int64_t& total);

// Scans the whole file for the marker. It must occur exactly once in the
// program image (an appended patch may contain the same bytes by chance:
// only the image counts), with its 8-byte field complete.
StampStatus LocateStamp(CKOVA_xFile& file, StampInfo& info);

// Where the patch in `file` begins: 0 for a bare patch (the file starts with
// the identification's prefix), else the stamped offset of a program that
// carries one. kOk, or why there is none to be found.
Outcome FindPatchBase(CKOVA_xFile& file, uint64_t& base);

}  // namespace zelp
