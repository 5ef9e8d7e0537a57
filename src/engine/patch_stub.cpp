#include "engine/patch_stub.h"

#include <cstring>
#include <string>

#include "common/text.h"
#include "engine/format.h"
#include "engine/header.h"

CWD_ZELP信息::CWD_ZELP信息() : version{}, description{}, targetSize(0), targetCrc(0) {}

CPatchStub::CPatchStub(uint64_t base) : patchBase(base), scratch{}, summary{}, info() {}

namespace {

// The summary shown by the "补丁信息" button.
std::u16string SummaryText(const char16_t* version, uint32_t crc, int64_t size) {
  std::u16string s = u"补丁版本: ";
  s += version;
  s += u"\r\n目标文件的CRC32验证: ";
  // Formatted without printf, which would add its library code to the
  // patch program.
  s += crc != 0 ? zelp::Hex32(crc) : u"无";
  s += u"\r\n打补丁后的文件大小: ";
  s += zelp::Decimal(size);
  return s;
}

}  // namespace

int CPatchStub::LoadPatchInfoFromFile(CKOVA_xFile& file) {
  using namespace zelp;
  std::memset(summary, 0, sizeof summary);
  if (!file.Seek(static_cast<int64_t>(patchBase))) return 0;

  int64_t fileSize = 0;
  file.GetSize(fileSize);
  PatchHeader h;
  HeaderFault fault = ReadHeader(file, fileSize, h);
  if (fault == HeaderFault::kIdentCut || fault == HeaderFault::kIdentText) return 0;
  if (char16_t* wide = AnsiToWide(h.ident)) {
    info.version[0] = 0;
    if (WideLen(wide) < 17) WideCopy(info.version, wide);
    delete[] wide;
  }
  if (fault != HeaderFault::kNone) return 0;
  info.targetSize = h.targetSize;
  info.targetCrc = h.targetCrc;
  uint64_t descriptionOffset = h.descriptionOffset;

  std::memset(info.description, 0, sizeof info.description);
  if (descriptionOffset != 0) {
    // An offset that cannot be reached leaves the description empty rather
    // than showing whatever follows the header.
    uint64_t at = patchBase + descriptionOffset;
    if (at < kUnreachable && file.Seek(static_cast<int64_t>(at)))
      ReadFull(file, info.description, kDescriptionBytes);
  }

  std::u16string text = SummaryText(info.version, info.targetCrc, info.targetSize);
  WideCopy(summary, text.c_str());
  return 1;
}
