#include "engine/header.h"

#include <cstring>

namespace zelp {

HeaderFault ReadHeader(CKOVA_xFile& file, int64_t fileSize, PatchHeader& h) {
  h = PatchHeader{};
  if (!ReadExact(file, h.ident, kIdentSize)) return HeaderFault::kIdentCut;
  if (ParseIdentification(h.ident, h.major, h.minor) < 2) return HeaderFault::kIdentText;
  if (JudgeVersion(h.major, h.minor) != Version::kSupported) return HeaderFault::kVersion;
  uint8_t field[8];
  if (!ReadExact(file, field, 8)) return HeaderFault::kTargetSizeCut;
  h.targetSize = static_cast<int64_t>(Le64(field));
  if (!ReadExact(file, field, 4)) return HeaderFault::kTargetCrcCut;
  h.targetCrc = Le32(field);
  if (!ReadExact(file, field, 4)) return HeaderFault::kRecordsCut;
  h.recordsOffset = Le32(field);
  if (h.recordsOffset < kHeaderSize || static_cast<int64_t>(h.recordsOffset) >= fileSize)
    return HeaderFault::kRecordsRange;
  if (!ReadExact(file, field, 8)) return HeaderFault::kDescriptionCut;
  h.descriptionOffset = Le64(field);
  return HeaderFault::kNone;
}

void EncodeHeader(const PatchHeader& h, uint8_t (&out)[kHeaderSize]) {
  static constexpr char kIdent[] = "KOVA-PATCH3.0";
  std::memset(out, 0, sizeof out);
  std::memcpy(out, kIdent, sizeof kIdent - 1);
  PutLe64(out + kOffTargetSize, static_cast<uint64_t>(h.targetSize));
  PutLe32(out + kOffTargetCrc, h.targetCrc);
  PutLe32(out + kOffRecords, h.recordsOffset);
  PutLe64(out + kOffDescription, h.descriptionOffset);
}

}  // namespace zelp
