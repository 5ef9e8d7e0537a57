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

}  // namespace

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
    if (!ReadExact(stub, buffer.data(), n)) return !(readFailed = true);
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
