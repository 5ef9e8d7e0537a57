// The 40-byte patch header, read and written in this one place.
#pragma once

#include <cstdint>

#include "engine/format.h"
#include "file/xfile.h"

namespace zelp {

struct PatchHeader {
  char ident[kIdentSize + 1] = {};  // as read, NUL-padded and terminated
  int major = 0, minor = 0;
  int64_t targetSize = 0;
  uint32_t targetCrc = 0;
  uint32_t recordsOffset = kHeaderSize;
  uint64_t descriptionOffset = 0;
};

// The first field that could not be had; every field before it is filled in.
enum class HeaderFault {
  kNone,
  kIdentCut,   // fewer than 16 bytes
  kIdentText,  // not "KOVA-PATCH<major>.<minor>"
  kVersion,    // numbers read, but not 3.0 (JudgeVersion says how)
  kTargetSizeCut,
  kTargetCrcCut,
  kRecordsCut,
  kRecordsRange,  // before the end of the header or not before the end of the file
  kDescriptionCut,
};

// Reads the header from the file's current position. `fileSize` is the size
// of the file that holds the patch, which the records offset must stay below
// (an offset counted from the patch base, compared with the whole file).
HeaderFault ReadHeader(CKOVA_xFile& file, int64_t fileSize, PatchHeader& header);

// The header of a ZELP 3.0 patch with the given fields ("KOVA-PATCH3.0").
void EncodeHeader(const PatchHeader& header, uint8_t (&out)[kHeaderSize]);

}  // namespace zelp
