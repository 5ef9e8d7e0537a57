#include "web/explain.h"

#include <cstdarg>
#include <cstdio>

#include "engine/messages.h"

namespace zelp::web {

namespace {

std::string Format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* pattern, ...) {
  char line[400];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(line, sizeof line, pattern, args);
  va_end(args);
  return line;
}

}  // namespace

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

std::string ExplainDamage(const StreamCheck& check) {
  long long at = static_cast<long long>(check.at);
  switch (check.damage) {
    case PatchDamage::kNone: return {};
    case PatchDamage::kRead: return "the patch cannot be read";
    case PatchDamage::kIdentification: return "this is not a ZELP patch";
    case PatchDamage::kVersion: return "this ZELP patch is not of version 3.0";
    case PatchDamage::kHeader:
      return Format("the patch is damaged: its header is cut short or wrong (at byte %lld)", at);
    case PatchDamage::kCutShort:
      return Format(
          "the patch is damaged: it is cut short (at byte %lld, after %llu whole records); "
          "download it again",
          at, static_cast<unsigned long long>(check.records));
    case PatchDamage::kRecordType:
      return Format("the patch is damaged: a record of an unknown type at byte %lld", at);
    case PatchDamage::kUnreachable:
      return Format("the patch is damaged: a record at byte %lld writes where no file can reach",
                    at);
  }
  return {};
}

std::string ExplainDiagnosis(const Diagnosis& d) {
  switch (d.verdict) {
    case Verdict::kMatches: return "this is the file the patch was made for";
    case Verdict::kAlreadyPatched:
      return "this file is already patched: it holds every byte the patch writes; there is "
             "nothing to do";
    case Verdict::kCopierHeader:
      return Format(
          "this file has a 512-byte copier header: without its first 512 bytes it is the file "
          "the patch was made for (CRC-32 %08X)\nremove the header (with your ROM tool, or "
          "`tail -c +513 FILE > FILE-without-header`) and patch the file without it",
          static_cast<unsigned>(d.expectedCrc));
    case Verdict::kOtherFile:
      return Format(
          "this is not the file the patch was made for\nexpected CRC-32 %08X, this file has "
          "%08X (%lld bytes)",
          static_cast<unsigned>(d.expectedCrc), static_cast<unsigned>(d.targetCrc),
          static_cast<long long>(d.targetSize));
    case Verdict::kBadPatch: return ExplainDamage(d.patch);
    case Verdict::kUnreadable: return "this file cannot be read";
  }
  return {};
}

}  // namespace zelp::web
