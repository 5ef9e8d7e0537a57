#include "engine/patch_stub.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "common/text.h"
#include "engine/format.h"
#include "file/file.h"

CWD_ZELP信息::CWD_ZELP信息() : version{}, description{}, targetSize(0), targetCrc(0) {}

CPatchStub::CPatchStub(uint64_t base) : patchBase(base), scratch{}, summary{}, info() {}

namespace {

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::strlen(s)); }

// The summary shown by the "补丁信息" button.
std::u16string SummaryText(const char16_t* version, uint32_t crc, int64_t size) {
  std::u16string s = u"补丁版本: ";
  s += version;
  s += u"\r\n目标文件的CRC32验证: ";
  if (crc != 0) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(crc));
    s += Ascii(hex);
  } else {
    s += u"无";
  }
  s += u"\r\n打补丁后的文件大小: ";
  s += Ascii(std::to_string(static_cast<long long>(size)).c_str());
  return s;
}

bool ReadExact(CKOVA_xFile& f, void* buf, uint32_t n) { return f.Read(buf, n) == n; }

}  // namespace

int CPatchStub::LoadPatchInfoFrom(const char16_t* path) {
  CKOVA_File file;
  if (!zelp::Open(path, file, zelp::kModeRead, zelp::kShareRead)) return 0;
  return LoadPatchInfoFromFile(file);
}

int CPatchStub::LoadPatchInfoFromFile(CKOVA_xFile& file) {
  using namespace zelp;
  std::memset(summary, 0, sizeof summary);
  if (!file.Seek(static_cast<int64_t>(patchBase))) return 0;

  char ident[kIdentSize + 1];
  if (!ReadExact(file, ident, kIdentSize)) return 0;
  ident[kIdentSize] = 0;
  int major = 0, minor = 0;
  if (ParseIdentification(ident, major, minor) < 2) return 0;
  if (char16_t* wide = AnsiToWide(ident)) {
    info.version[0] = 0;
    if (WideLen(wide) < 17) WideCopy(info.version, wide);
    delete[] wide;
  }
  if (JudgeVersion(major, minor) != Version::kSupported) return 0;

  uint8_t field[8];
  if (!ReadExact(file, field, 8)) return 0;
  info.targetSize = static_cast<int64_t>(Le64(field));
  if (!ReadExact(file, field, 4)) return 0;
  info.targetCrc = Le32(field);
  if (!ReadExact(file, field, 4)) return 0;
  uint64_t recordsOffset = Le32(field);
  int64_t fileSize = 0;
  file.GetSize(fileSize);
  if (recordsOffset < kHeaderSize || static_cast<int64_t>(recordsOffset) >= fileSize) return 0;
  if (!ReadExact(file, field, 8)) return 0;
  uint64_t descriptionOffset = Le64(field);

  std::memset(info.description, 0, sizeof info.description);
  if (descriptionOffset != 0) {
    // An offset that cannot be reached leaves the description empty rather
    // than showing whatever follows the header.
    uint64_t at = patchBase + descriptionOffset;
    if (at < kUnreachable && file.Seek(static_cast<int64_t>(at)))
      file.Read(info.description, kDescriptionBytes);
  }

  std::u16string text = SummaryText(info.version, info.targetCrc, info.targetSize);
  WideCopy(summary, text.c_str());
  return 1;
}
