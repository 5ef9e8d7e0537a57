#include "author/stamp_file.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "author/patch_writer.h"
#include "common/text.h"
#include "engine/format.h"
#include "engine/stamp.h"

namespace zelp::author {

namespace {

constexpr size_t kBlock = size_t{1} << 20;

// The dialog program's mark (ui/dialog_mark.cpp), each byte inverted: zelp
// must not carry the mark itself, or zelp.exe could be packed.
const uint8_t kDialogMarkInverted[kMarkerSize] = {0xA5, 0xBA, 0xB3, 0xAF, 0xD2, 0xBB, 0xB6, 0xBE,
                                                  0xB3, 0xB0, 0xB8, 0xD2, 0x2E, 0x58, 0x94, 0xD1};

}  // namespace

bool HasDialogMark(CKOVA_xFile& file, int64_t imageSize, bool& readFailed) {
  // Decoded at run time through a volatile read, so that no constant folding
  // leaves the plain mark in this program.
  const volatile uint8_t* inverted = kDialogMarkInverted;
  uint8_t mark[kMarkerSize];
  for (size_t i = 0; i < kMarkerSize; ++i) mark[i] = static_cast<uint8_t>(~inverted[i]);
  std::vector<int64_t> found;
  int64_t total = 0;
  readFailed = !ScanMarker(file, imageSize, mark, found, total);
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

bool CopyStub(CKOVA_xFile& stub, const std::u16string& name, CKOVA_xFile& out, StampInfo& stamp,
              std::u16string& error) {
  const std::u16string cannotRead = u"cannot read " + name;
  switch (LocateStamp(stub, stamp)) {
    case StampStatus::kOk: break;
    case StampStatus::kRead: error = cannotRead; return false;
    case StampStatus::kNoMarker:
      error = name + u" is not a ZELP program: its patch stamp marker is missing";
      return false;
    case StampStatus::kManyMarkers:
      error = name + u": the patch stamp marker occurs " + Decimal(stamp.markers) +
              u" times; it must occur exactly once";
      return false;
    case StampStatus::kCutShort: error = name + u" ends inside its patch stamp"; return false;
  }
  bool readFailed = false;
  if (!HasDialogMark(stub, stamp.imageSize, readFailed)) {
    error = readFailed ? cannotRead
                       : name +
                             u" is not the ZELP dialog program (zelp-stub.exe): it carries the "
                             u"patch stamp but not the dialog's mark";
    return false;
  }
  if (!WriteStampedImage(stub, stamp, out, readFailed)) {
    error = readFailed ? cannotRead : std::u16string(u"cannot write the output");
    return false;
  }
  return true;
}

}  // namespace zelp::author
