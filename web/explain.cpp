#include "web/explain.h"

#include <cstdio>

#include "engine/messages.h"

namespace zelp::web {

namespace {

std::string Hex8(uint32_t n) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(n));
  return hex;
}

std::string Quote(const std::string& name) { return "'" + name + "'"; }

}  // namespace

std::string Explain(const char16_t* message) {
  struct Line {
    const char16_t* message;
    const char* english;
  };
  static const Line kLines[] = {
      {kMsgInitFailed, "the patch cannot be read: it is damaged, cut short or of another version"},
      {kMsgSuccess, "patching succeeded"},
      {kMsgIdentShort, "the patch is damaged: it is too short to hold a header"},
      {kMsgIdentBad, "the patch is damaged: it does not start with a ZELP identification"},
      {kMsgOldVersion, "this is a patch of an older ZELP version, which is not supported"},
      {kMsgUnknownVersion, "this is a patch of an unknown ZELP version"},
      {kMsgHeader1, "the patch is damaged: its header's target size is missing or invalid"},
      {kMsgHeader2, "the patch is damaged: its header is cut short"},
      {kMsgHeader3, "the patch is damaged: its header is cut short"},
      {kMsgHeader4, "the patch is damaged: its records lie outside the file"},
      {kMsgCrcMismatch, "this is not the file the patch was made for; nothing was changed"},
      {kMsgResize, "cannot give the target its new size"},
      {kMsgSeekRecords, "cannot position the patch file at its records"},
      {kMsgDamaged5, "the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged61, "the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged62, "the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged7, "the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged8, "the patch is damaged: it is cut short; nothing was changed"},
      {kMsgBadRecordType, "the patch is damaged: a record of unknown type; nothing was changed"},
      {kMsgSeekTarget, "a record lies at a position no file can reach"},
      {kMsgWriteFailed, "writing the patched copy failed"},
  };
  std::u16string m = message;
  for (const Line& line : kLines)
    if (m == line.message) return line.english;
  return {};
}

std::string ExplainDamage(const StreamCheck& c) {
  const std::string at = " at byte " + std::to_string(c.at);
  std::string what;
  switch (c.damage) {
    case PatchDamage::kNone: return {};
    case PatchDamage::kRead: what = "it cannot be read"; break;
    case PatchDamage::kIdentification: what = "it does not start with a ZELP identification"; break;
    case PatchDamage::kVersion: what = "it is not a ZELP 3.0 patch"; break;
    case PatchDamage::kHeader: what = "its header is cut short or invalid" + at; break;
    case PatchDamage::kCutShort:
      what = (c.at >= c.fileSize
                  ? "it is cut short: it ends" + at + ", before its end record"
                  : "it is cut short: the record" + at + " runs past the end of the file") +
             " (an incomplete download?)";
      break;
    case PatchDamage::kRecordType: what = "a record of unknown type" + at; break;
    case PatchDamage::kUnreachable:
      what = "the record" + at + " writes at a position no file can have";
      break;
  }
  return "the patch is damaged: " + what;
}

std::string ExplainDiagnosis(const Diagnosis& d, const std::string& target) {
  switch (d.verdict) {
    case Verdict::kMatches:
      return d.expectedCrc ? "the patch applies to this file (CRC-32 " + Hex8(d.targetCrc) + ")"
                           : "the patch checks no CRC-32: it applies to any file";
    case Verdict::kAlreadyPatched:
      return "this file is already patched: it holds everything the patch writes";
    case Verdict::kCopierHeader:
      return "this file starts with a 512-byte copier header; the patch was made for the file "
             "without it\nremove the header first (tail -c +513 " +
             Quote(target) + " > headerless-copy) and apply the patch to that copy";
    case Verdict::kOtherFile:
      return "expected CRC-32 " + Hex8(d.expectedCrc) + ", this file has " + Hex8(d.targetCrc) +
             " (" + std::to_string(d.targetSize) +
             " bytes)\nthis is another file or another version of it; the patch's description "
             "may say which one it needs";
    case Verdict::kBadPatch: return ExplainDamage(d.patch);
    case Verdict::kUnreadable: return "cannot read " + Quote(target);
  }
  return {};
}

}  // namespace zelp::web
