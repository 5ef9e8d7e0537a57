#include "web/explain.h"

#include <cstdio>

#include "engine/format.h"
#include "engine/messages.h"

namespace zelp::web {

std::string Explain(const char16_t* message) {
  struct Line {
    const char16_t* message;
    const char* english;
  };
  static const Line kLines[] = {
      {kMsgInitFailed, "the patch cannot be read: it is damaged, cut short or of another version"},
      {kMsgSuccess, "patching succeeded"},
      {kMsgDamaged5, "patching failed: the patch is damaged (5)"},
      {kMsgDamaged61, "patching failed: the patch is damaged (6.1)"},
      {kMsgDamaged62, "patching failed: the patch is damaged (6.2)"},
      {kMsgBadRecordType, "invalid ZELP patch (2)"},
      {kMsgDamaged7, "patching failed: the patch is damaged (7)"},
      {kMsgDamaged8, "patching failed: the patch is damaged (8)"},
      {kMsgSeekTarget, "patching failed: a record points to a position no file can reach"},
      {kMsgWriteFailed, "patching failed: writing data failed"},
      {kMsgIdentShort, "the ZELP patch is damaged (1)"},
      {kMsgIdentBad, "the ZELP patch is damaged (2)"},
      {kMsgOldVersion, "ZELP patches of older versions are not supported"},
      {kMsgUnknownVersion, "unknown version of ZELP patch"},
      {kMsgHeader1, "the patch is damaged (1)"},
      {kMsgHeader2, "the patch is damaged (2)"},
      {kMsgCrcMismatch, "this file failed the CRC-32 check"},
      {kMsgHeader3, "the patch is damaged (3)"},
      {kMsgHeader4, "the patch is damaged (4)"},
      {kMsgResize, "changing the file size failed"},
      {kMsgSeekRecords, "error setting the file pointer (1)"},
  };
  std::u16string m = message;
  for (const Line& line : kLines)
    if (m == line.message) return line.english;
  return {};
}

Diagnosis Diagnose(CKOVA_xFile& patch, uint64_t base, CKOVA_xFile& target,
                   const std::u16string& message) {
  Diagnosis d;
  d.text = Explain(message.c_str());
  if (message != kMsgCrcMismatch) return d;
  d.notTheFile = true;
  uint8_t field[4];
  if (!patch.Seek(static_cast<int64_t>(base + kOffTargetCrc)) || patch.Read(field, 4) != 4)
    return d;
  int64_t size = 0;
  target.GetSize(size);
  char line[160];
  std::snprintf(line, sizeof line, "\nexpected CRC-32 %08X, this file has %08X (%lld bytes)",
                static_cast<unsigned>(Le32(field)), static_cast<unsigned>(target.Crc32()),
                static_cast<long long>(size));
  d.text += line;
  return d;
}

}  // namespace zelp::web
