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

bool CopyStub(CKOVA_xFile& stub, const Bilingual& name, CKOVA_xFile& out, StampInfo& stamp,
              Bilingual& error) {
  auto say = [&](const char16_t* english, const char16_t* chinese) {
    error = {Fill(english, {name.english, Decimal(stamp.markers)}),
             Fill(chinese, {name.chinese, Decimal(stamp.markers)})};
    return false;
  };
  const char16_t *cannotRead = u"cannot read {0}", *cannotReadZh = u"无法读取 {0}";
  switch (LocateStamp(stub, stamp)) {
    case StampStatus::kOk: break;
    case StampStatus::kRead: return say(cannotRead, cannotReadZh);
    case StampStatus::kNoMarker:
      return say(u"{0} is not a ZELP program: its patch stamp marker is missing",
                 u"{0} 不是 ZELP 程序：没有补丁位置标记");
    case StampStatus::kManyMarkers:
      return say(u"{0}: the patch stamp marker occurs {1} times; it must occur exactly once",
                 u"{0}：补丁位置标记出现了 {1} 次，必须正好出现一次");
    case StampStatus::kCutShort:
      return say(u"{0} ends inside its patch stamp", u"{0} 在补丁位置标记的中间就结束了");
  }
  bool readFailed = false;
  if (!HasDialogMark(stub, stamp.imageSize, readFailed))
    return readFailed ? say(cannotRead, cannotReadZh)
                      : say(u"{0} is not the ZELP dialog program (zelp-stub.exe): it carries the "
                            u"patch stamp but not the dialog's mark",
                            u"{0} 不是 ZELP 补丁程序（zelp-stub.exe）：它有补丁位置标记，但没有"
                            u"补丁程序自己的标记");
  if (!WriteStampedImage(stub, stamp, out, readFailed))
    return readFailed ? say(cannotRead, cannotReadZh)
                      : say(u"cannot write the output", u"无法写入输出文件");
  return true;
}

}  // namespace zelp::author
