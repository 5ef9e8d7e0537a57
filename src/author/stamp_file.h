// Finding and setting the stamped patch offset in a program file (the field
// itself is described in engine/stamp.h).
#pragma once

#include <cstdint>

#include "file/xfile.h"

namespace zelp::author {

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

// Scans the whole file for the marker. It must occur exactly once in the
// program image (an appended patch may contain the same bytes by chance:
// only the image counts), with its 8-byte field complete.
StampStatus LocateStamp(CKOVA_xFile& file, StampInfo& info);

// True when the first `imageSize` bytes hold the dialog program's own mark
// (ui/dialog_mark.h): only the dialog program may carry a patch.
bool HasDialogMark(CKOVA_xFile& file, int64_t imageSize, bool& readFailed);

// Copies the program image of `stub` (located by LocateStamp) to `out` at its
// current position, with the field set to the image's length: the offset at
// which a patch appended right after it begins. False on a read or write
// failure (`readFailed` tells which).
bool WriteStampedImage(CKOVA_xFile& stub, const StampInfo& info, CKOVA_xFile& out,
                       bool& readFailed);

}  // namespace zelp::author
