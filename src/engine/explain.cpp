#include "engine/explain.h"

#include "common/text.h"

namespace zelp {

namespace {

struct Words {
  const char16_t* english;
  const char16_t* chinese;
};

constexpr Words kExplanations[] = {
#define ZELP_OUTCOME(name, report, exit, written, english, chinese) {english, chinese},
#include "engine/outcome_table.h"
#undef ZELP_OUTCOME
};

bool Zh(Language language) { return language == Language::kChinese; }

// Damage that a field or record shows lies where it was found.
bool HasPlace(Outcome o) {
  switch (o) {
    case Outcome::kTargetSizeField:
    case Outcome::kCrcFieldCut:
    case Outcome::kRecordsFieldCut:
    case Outcome::kRecordsOutside:
    case Outcome::kTypeCut:
    case Outcome::kDistanceCut:
    case Outcome::kPositionCut:
    case Outcome::kBadRecordType:
    case Outcome::kLengthCut:
    case Outcome::kDataCut:
    case Outcome::kUnreachable: return true;
    default: return false;
  }
}

}  // namespace

const char16_t* Explanation(Outcome o, Language language) {
  const Words& w = kExplanations[static_cast<size_t>(o)];
  return Zh(language) ? w.chinese : w.english;
}

std::u16string ForeignFaultText(const ForeignInfo& info, ForeignFault fault, Language language) {
  const std::u16string kind = KindName(info.kind);
  if (Zh(language)) {
    const std::u16string at = u"第 " + Decimal(info.at) + u" 字节处";
    switch (fault) {
      case ForeignFault::kNone: return u"";
      case ForeignFault::kRead: return u"无法读取补丁文件";
      case ForeignFault::kMagic: return u"补丁文件开头不是 " + kind + u" 的标记";
      case ForeignFault::kCutShort:
        return u"补丁文件不完整：在" + at + u"的一步中间就结束了（没有下载完？）";
      case ForeignFault::kNumber: return at + u"的数字太大";
      case ForeignFault::kPatchCrc:
        return u"补丁文件自身的CRC32与内容不符：补丁已损坏（没有下载完或下载出错？）";
      case ForeignFault::kOutside: return at + u"的一步读写超出了文件的范围";
      case ForeignFault::kTrailing: return at + u"的结束标记之后的字节既不是大小也不是记录";
      case ForeignFault::kChanged: return u"补丁文件在使用中被改动了";
      case ForeignFault::kSourceSize:
        return u"目标文件的大小不是补丁要求的 " + Decimal(info.sourceSize) + u" 字节";
      case ForeignFault::kSourceRead: return u"无法读取目标文件";
      case ForeignFault::kWrite: return u"无法写出结果（磁盘已满或读写出错）";
      case ForeignFault::kResultCrc:
        return u"结果的CRC32不是补丁给出的 " + Hex32(info.targetCrc) + u"，没有保留";
    }
    return u"";
  }
  const std::u16string at = u" at byte " + Decimal(info.at);
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

std::u16string ForeignDamageText(const ForeignInfo& info, Language language) {
  const std::u16string kind = KindName(info.kind);
  const std::u16string why = ForeignFaultText(info, info.fault, language);
  return Zh(language) ? kind + u" 补丁已损坏：" + why
                      : u"the " + kind + u" patch is damaged: " + why;
}

std::u16string ForeignDiagnosisText(const ForeignInfo& info, const Diagnosis& d,
                                    const std::u16string& target, Language language) {
  if (!info.checksSource) return DiagnosisText(d, target, language);
  if (Zh(language)) {
    const std::u16string wanted =
        u"CRC32 " + Hex32(info.sourceCrc) + u"，" + Grouped(info.sourceSize) + u" 字节";
    switch (d.verdict) {
      case Verdict::kMatches: return u"补丁可以打在这个文件上（" + wanted + u"）\n";
      case Verdict::kOtherFile:
        return u"需要的是 " + wanted + u"，这个文件是 CRC32 " + Hex32(d.targetCrc) + u"，" +
               Grouped(d.targetSize) +
               u" 字节\n"
               u"这是另一个文件，或同一文件的另一个版本；补丁说明里可能写了需要哪一个\n";
      default: return DiagnosisText(d, target, language);
    }
  }
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
    default: return DiagnosisText(d, target, language);
  }
}

const char16_t* UnchangedText(Language language) {
  return Zh(language) ? u"；文件未被改动" : u"; nothing was changed";
}

std::u16string DamageText(const StreamCheck& c, Language language) {
  if (c.damage == Outcome::kOk) return u"";
  std::u16string text = std::u16string(Explanation(c.damage, language)) + u"\n";
  if (HasPlace(c.damage))
    text += Zh(language) ? u"损坏处在补丁文件的第 " + Grouped(c.at) + u" 字节\n"
                         : u"the damage is at byte " + Grouped(c.at) + u" of the patch file\n";
  return text;
}

std::u16string DiagnosisText(const Diagnosis& d, const std::u16string& target, Language language) {
  const bool zh = Zh(language);
  switch (d.verdict) {
    case Verdict::kMatches:
      if (!d.expectedCrc)
        return zh ? u"补丁不检查CRC32：可以打在任何文件上\n"
                  : u"the patch checks no CRC-32: it applies to any file\n";
      return zh ? u"补丁可以打在这个文件上（CRC32 " + Hex32(d.targetCrc) + u"）\n"
                : u"the patch applies to this file (CRC-32 " + Hex32(d.targetCrc) + u")\n";
    case Verdict::kAlreadyPatched:
      return zh ? u"这个文件已经打过补丁：补丁要写的内容它都有了\n"
                : u"this file is already patched: it holds everything the patch writes\n";
    case Verdict::kCopierHeader:
      return zh ? u"这个文件开头有512字节的拷贝机文件头，补丁是为不带文件头的文件做的\n"
                  u"请加上 --header 打补丁：补丁会跳过 " +
                      Quote(target) + u" 的文件头，并把它留在原处\n"
                : u"this file starts with a 512-byte copier header; the patch was made for the "
                  u"file without it\n"
                  u"apply it with --header: the patch then skips the header of " +
                      Quote(target) + u" and leaves it in place\n";
    case Verdict::kPatchedBehindHeader:
      return zh ? u"这个文件开头有512字节的拷贝机文件头，文件头之后已经打过补丁：补丁要写的内容它都"
                  u"有了\n"
                  u"加上 --header 时，zelp 跳过 " +
                      Quote(target) + u" 的文件头来读它，并把文件头留在原处\n"
                : u"this file starts with a 512-byte copier header and is already patched behind "
                  u"it: it holds everything the patch writes\n"
                  u"with --header, zelp reads " +
                      Quote(target) + u" past its header and leaves the header in place\n";
    case Verdict::kOtherFile:
      return zh ? u"需要的CRC32是 " + Hex32(d.expectedCrc) + u"，这个文件是 " + Hex32(d.targetCrc) +
                      u"（" + Grouped(d.targetSize) +
                      u" 字节）\n"
                      u"这是另一个文件，或同一文件的另一个版本；补丁说明里可能写了需要哪一个\n"
                : u"expected CRC-32 " + Hex32(d.expectedCrc) + u", this file has " +
                      Hex32(d.targetCrc) + u" (" + Grouped(d.targetSize) +
                      u" bytes)\n"
                      u"this is another file or another version of it; the patch's description "
                      u"may say which one it needs\n";
    case Verdict::kBadPatch: return DamageText(d.patch, language);
    case Verdict::kUnreadable: return (zh ? u"无法读取 " : u"cannot read ") + Quote(target) + u"\n";
  }
  return u"";
}

std::u16string SummaryLine(const char16_t* version, uint32_t crc, int64_t size, Language language) {
  if (Zh(language))
    return u"补丁版本 " + std::u16string(version) + u"；要打补丁的文件的CRC32：" +
           (crc ? Hex32(crc) : std::u16string(u"无（任何文件都可以）")) +
           u"；打补丁后的文件大小：" + Grouped(size) + u" 字节。";
  return u"Patch version " + std::u16string(version) + u"; CRC-32 the file to patch must have: " +
         (crc ? Hex32(crc) : std::u16string(u"none (any file is accepted)")) +
         u"; file size after patching: " + Grouped(size) + u" bytes.";
}

}  // namespace zelp
