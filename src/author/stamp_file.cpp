#include "author/stamp_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "author/patch_writer.h"
#include "engine/format.h"
#include "engine/stamp.h"

namespace zelp::author {

namespace {

constexpr size_t kBlock = size_t{1} << 20;
constexpr size_t kMarkerSize = sizeof kStampMarker;
constexpr size_t kKeep = 64;  // occurrences remembered; more is refused anyway

bool ReadFull(CKOVA_xFile& file, uint8_t* buffer, size_t n) {
  while (n > 0) {
    uint32_t got = file.Read(buffer, static_cast<uint32_t>(n));
    if (got == 0) return false;
    buffer += got;
    n -= got;
  }
  return true;
}

// Finds every occurrence of the 16-byte `needle` in the first `end` bytes:
// their count in `total`, the first kKeep positions in `found`.
bool Scan(CKOVA_xFile& file, int64_t end, const uint8_t* needle, std::vector<int64_t>& found,
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
    if (!ReadFull(file, buffer.data() + carried, n)) return false;
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

// The dialog program's mark (ui/dialog_mark.cpp), each byte inverted: zelp
// must not carry the mark itself, or zelp.exe could be packed.
const uint8_t kDialogMarkInverted[kMarkerSize] = {0xA5, 0xBA, 0xB3, 0xAF, 0xD2, 0xBB, 0xB6, 0xBE,
                                                  0xB3, 0xB0, 0xB8, 0xD2, 0x2E, 0x58, 0x94, 0xD1};

}  // namespace

StampStatus LocateStamp(CKOVA_xFile& file, StampInfo& info) {
  info = StampInfo{};
  file.GetSize(info.fileSize);
  std::vector<int64_t> found;
  int64_t total = 0;
  if (!Scan(file, info.fileSize, kStampMarker, found, total)) return StampStatus::kRead;
  if (total == 0) return StampStatus::kNoMarker;
  info.markerAt = found[0];
  if (info.markerAt + static_cast<int64_t>(kMarkerSize) + 8 > info.fileSize)
    return StampStatus::kCutShort;
  uint8_t field[8];
  if (!file.Seek(info.markerAt + static_cast<int64_t>(kMarkerSize)) || !ReadFull(file, field, 8))
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

bool HasDialogMark(CKOVA_xFile& file, int64_t imageSize, bool& readFailed) {
  // Decoded at run time through a volatile read, so that no constant folding
  // leaves the plain mark in this program.
  const volatile uint8_t* inverted = kDialogMarkInverted;
  uint8_t mark[kMarkerSize];
  for (size_t i = 0; i < kMarkerSize; ++i) mark[i] = static_cast<uint8_t>(~inverted[i]);
  std::vector<int64_t> found;
  int64_t total = 0;
  readFailed = !Scan(file, imageSize, mark, found, total);
  return total > 0;
}

bool WriteStampedImage(CKOVA_xFile& stub, const StampInfo& info, CKOVA_xFile& out,
                       bool& readFailed) {
  readFailed = false;
  uint8_t value[8];
  PutLe64(value, static_cast<uint64_t>(info.imageSize));
  const int64_t fieldAt = info.markerAt + static_cast<int64_t>(kMarkerSize);
  if (!stub.Seek(0)) return !(readFailed = true);
  std::vector<uint8_t> buffer(kBlock);
  for (int64_t pos = 0; pos < info.imageSize;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(kBlock, info.imageSize - pos));
    if (!ReadFull(stub, buffer.data(), n)) return !(readFailed = true);
    // Overwrite whatever part of the field lies in this block.
    for (int k = 0; k < 8; ++k) {
      int64_t at = fieldAt + k - pos;
      if (at >= 0 && at < static_cast<int64_t>(n)) buffer[static_cast<size_t>(at)] = value[k];
    }
    if (!WriteAll(out, buffer.data(), n)) return false;
    pos += static_cast<int64_t>(n);
  }
  return true;
}

}  // namespace zelp::author
