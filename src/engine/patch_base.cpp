#include "engine/patch_base.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/format.h"
#include "engine/header.h"
#include "engine/stamp.h"

namespace zelp {

namespace {

constexpr size_t kBlock = size_t{1} << 20;
static_assert(sizeof kStampMarker == kMarkerSize);

}  // namespace

bool ScanMarker(CKOVA_xFile& file, int64_t end, const uint8_t* needle, std::vector<int64_t>& found,
                int64_t& total) {
  found.clear();
  total = 0;
  if (!file.Seek(0)) return false;
  // Each block keeps the last 15 bytes of the one before, so that a needle
  // across the boundary is seen once.
  std::vector<uint8_t> buffer(kBlock + kMarkerSize);
  size_t carried = 0;
  int64_t pos = 0;  // file offset of buffer[carried]
  while (pos < end) {
    size_t n = static_cast<size_t>(std::min<int64_t>(kBlock, end - pos));
    if (!ReadExact(file, buffer.data() + carried, n)) return false;
    size_t have = carried + n;
    const int64_t bufferAt = pos - static_cast<int64_t>(carried);
    const uint8_t* p = buffer.data();
    for (size_t i = 0; i + kMarkerSize <= have;) {
      const void* hit = std::memchr(p + i, needle[0], have - kMarkerSize + 1 - i);
      if (!hit) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
      if (std::memcmp(p + i, needle, kMarkerSize) == 0) {
        ++total;
        if (found.size() < kKeep) found.push_back(bufferAt + static_cast<int64_t>(i));
      }
      ++i;
    }
    carried = std::min(have, kMarkerSize - 1);
    std::memmove(buffer.data(), buffer.data() + have - carried, carried);
    pos += static_cast<int64_t>(n);
  }
  return true;
}

StampStatus LocateStamp(CKOVA_xFile& file, StampInfo& info) {
  info = StampInfo{};
  file.GetSize(info.fileSize);
  std::vector<int64_t> found;
  int64_t total = 0;
  if (!ScanMarker(file, info.fileSize, kStampMarker, found, total)) return StampStatus::kRead;
  if (total == 0) return StampStatus::kNoMarker;
  info.markerAt = found[0];
  if (info.markerAt + static_cast<int64_t>(kMarkerSize) + 8 > info.fileSize)
    return StampStatus::kCutShort;
  uint8_t field[8];
  if (!file.Seek(info.markerAt + static_cast<int64_t>(kMarkerSize)) || !ReadExact(file, field, 8))
    return StampStatus::kRead;
  info.value = Le64(field);
  // A patch is appended when the field points inside the file, after itself.
  const uint64_t fieldEnd = static_cast<uint64_t>(info.markerAt) + kMarkerSize + 8;
  info.hasPatch = info.value != kNoPatch && info.value >= fieldEnd &&
                  info.value <= static_cast<uint64_t>(info.fileSize);
  info.imageSize = info.hasPatch ? static_cast<int64_t>(info.value) : info.fileSize;
  if (total > static_cast<int64_t>(kKeep)) {
    info.markers = static_cast<int>(std::min<int64_t>(total, 1000000));
    return StampStatus::kManyMarkers;
  }
  info.markers = static_cast<int>(
      std::count_if(found.begin(), found.end(), [&](int64_t at) { return at < info.imageSize; }));
  return info.markers == 1 ? StampStatus::kOk : StampStatus::kManyMarkers;
}

Outcome FindPatchBase(CKOVA_xFile& file, uint64_t& base) {
  int64_t size = 0;
  file.GetSize(size);
  PatchHeader header;
  ReadHeader(file, size, header);
  if (std::strncmp(header.ident, kIdentPrefix, std::strlen(kIdentPrefix)) == 0) {
    base = 0;
    return Outcome::kOk;
  }
  StampInfo stamp;
  switch (LocateStamp(file, stamp)) {
    case StampStatus::kOk: break;
    case StampStatus::kRead: return Outcome::kPatchUnreadable;
    case StampStatus::kNoMarker:
    case StampStatus::kCutShort: return Outcome::kNotAPatch;
    case StampStatus::kManyMarkers: return Outcome::kManyStamps;
  }
  if (!stamp.hasPatch)
    return stamp.value == kNoPatch ? Outcome::kNoPatchInProgram : Outcome::kStampOutside;
  base = stamp.value;
  return Outcome::kOk;
}

}  // namespace zelp
