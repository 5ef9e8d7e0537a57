#include "engine/explain.h"

#include "common/text.h"
#include "engine/messages.h"

namespace zelp {

namespace {

std::u16string Quote(const std::u16string& name) { return u"'" + name + u"'"; }

}  // namespace

std::u16string DamageText(const StreamCheck& c) {
  const std::u16string at = u" at byte " + Decimal(c.at);
  switch (c.damage) {
    case PatchDamage::kNone: return u"";
    case PatchDamage::kRead: return u"it cannot be read";
    case PatchDamage::kIdentification: return u"it does not start with a ZELP identification";
    case PatchDamage::kVersion: return u"it is not a ZELP 3.0 patch";
    case PatchDamage::kHeader: return u"its header is cut short or invalid" + at;
    case PatchDamage::kCutShort:
      return (c.at >= c.fileSize
                  ? u"it is cut short: it ends" + at + u", before its end record"
                  : u"it is cut short: the record" + at + u" runs past the end of the file") +
             u" (an incomplete download?)";
    case PatchDamage::kRecordType: return u"a record of unknown type" + at;
    case PatchDamage::kUnreachable:
      return u"the record" + at + u" writes at a position no file can have";
  }
  return u"";
}

std::u16string ForeignFaultText(const ForeignInfo& info, ForeignFault fault) {
  const std::u16string at = u" at byte " + Decimal(info.at);
  const std::u16string kind = KindName(info.kind);
  switch (fault) {
    case ForeignFault::kNone: return u"";
    case ForeignFault::kRead: return u"it cannot be read";
    case ForeignFault::kMagic: return u"it does not start with the " + kind + u" magic";
    case ForeignFault::kCutShort:
      return u"it is cut short: it ends inside the step" + at + u" (an incomplete download?)";
    case ForeignFault::kNumber: return u"a number too large" + at;
    case ForeignFault::kPatchCrc:
      return u"its own CRC-32 does not match its bytes: it was damaged (an incomplete or broken "
             u"download?)";
    case ForeignFault::kOutside:
      return u"the step" + at + u" reads or writes outside the files it names";
    case ForeignFault::kTrailing:
      return u"bytes after its end mark" + at + u" are neither a size nor records";
    case ForeignFault::kChanged: return u"the patch file was changed while it was being used";
    case ForeignFault::kSourceSize:
      return u"the file to patch does not have the " + Decimal(info.sourceSize) +
             u" bytes the patch was made for";
    case ForeignFault::kSourceRead: return u"the file to patch cannot be read";
    case ForeignFault::kWrite: return u"the result cannot be written (disk full or an I/O error)";
    case ForeignFault::kResultCrc:
      return u"the result does not have the CRC-32 " + Hex32(info.targetCrc) +
             u" the patch promises; it was not kept";
  }
  return u"";
}

std::u16string ForeignDiagnosisText(const ForeignInfo& info, const Diagnosis& d,
                                    const std::u16string& target) {
  if (!info.checksSource) return DiagnosisText(d, target);
  const std::u16string wanted =
      u"CRC-32 " + Hex32(info.sourceCrc) + u", " + Decimal(info.sourceSize) + u" bytes";
  switch (d.verdict) {
    case Verdict::kMatches: return u"the patch applies to this file (" + wanted + u")\n";
    case Verdict::kOtherFile:
      return u"expected " + wanted + u"; this file has CRC-32 " + Hex32(d.targetCrc) + u", " +
             Decimal(d.targetSize) +
             u" bytes\n"
             u"this is another file or another version of it; the patch's notes may say which "
             u"one it needs\n";
    default: return DiagnosisText(d, target);
  }
}

std::u16string DiagnosisText(const Diagnosis& d, const std::u16string& target) {
  switch (d.verdict) {
    case Verdict::kMatches:
      return d.expectedCrc
                 ? u"the patch applies to this file (CRC-32 " + Hex32(d.targetCrc) + u")\n"
                 : std::u16string(u"the patch checks no CRC-32: it applies to any file\n");
    case Verdict::kAlreadyPatched:
      return u"this file is already patched: it holds everything the patch writes\n";
    case Verdict::kCopierHeader:
      return u"this file starts with a 512-byte copier header; the patch was made for the file "
             u"without it\n"
             u"apply it with --header: the patch then skips the header of " +
             Quote(target) + u" and leaves it in place\n";
    case Verdict::kOtherFile:
      return u"expected CRC-32 " + Hex32(d.expectedCrc) + u", this file has " + Hex32(d.targetCrc) +
             u" (" + Decimal(d.targetSize) +
             u" bytes)\n"
             u"this is another file or another version of it; the patch's description may say "
             u"which one it needs\n";
    case Verdict::kBadPatch: return u"the patch is damaged: " + DamageText(d.patch) + u"\n";
    case Verdict::kUnreadable: return u"cannot read " + Quote(target) + u"\n";
  }
  return u"";
}

std::u16string ReportText(const std::u16string& report) {
  struct Entry {
    const char16_t* report;
    const char16_t* english;
  };
  static const Entry kEntries[] = {
      {kMsgPatchOpen, u"cannot open the patch file"},
      {kMsgTargetOpen,
       u"cannot open the target for writing: it is missing, not a regular file, read-only, or "
       u"in use"},
      {kMsgIdentShort, u"the patch is damaged: it is too short to hold a header"},
      {kMsgIdentBad, u"the patch is damaged: it does not start with a ZELP identification"},
      {kMsgOldVersion, u"this is a patch of an older ZELP version, which is not supported"},
      {kMsgUnknownVersion, u"this is a patch of an unknown ZELP version"},
      {kMsgHeader1, u"the patch is damaged: its header's target size is missing or invalid"},
      {kMsgHeader2, u"the patch is damaged: its header is cut short"},
      {kMsgHeader3, u"the patch is damaged: its header is cut short"},
      {kMsgHeader4, u"the patch is damaged: its records lie outside the file"},
      {kMsgCrcMismatch, u"this is not the file the patch was made for; nothing was changed"},
      {kMsgResize, u"cannot give the target its new size: the disk may be full"},
      {kMsgSeekRecords, u"cannot position the patch file at its records"},
      {kMsgDamaged5, u"the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged61, u"the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged62, u"the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged7, u"the patch is damaged: it is cut short; nothing was changed"},
      {kMsgDamaged8, u"the patch is damaged: it is cut short; nothing was changed"},
      {kMsgBadRecordType, u"the patch is damaged: a record of unknown type; nothing was changed"},
      {kMsgSeekTarget, u"a record lies at a position the target's file system cannot reach"},
      {kMsgWriteFailed,
       u"writing the target failed (disk full or an I/O error); it may be partly patched"},
  };
  for (const Entry& e : kEntries)
    if (report == e.report) return std::u16string(e.english) + u"\n";
  return u"";
}

}  // namespace zelp
