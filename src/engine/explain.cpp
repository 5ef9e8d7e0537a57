#include "engine/explain.h"

#include "common/text.h"
#include "common/words.h"

namespace zelp {

namespace {

struct Words {
  const char16_t* english;
  const char16_t* chinese;
};

constexpr Words kExplanations[] = {
#define ZELP_OUTCOME(name, report, exit, written, english, chinese) {english, chinese},
#include "engine/outcome_table.def"
#undef ZELP_OUTCOME
};

bool Zh(Language language) { return language == Language::kChinese; }

// Said after a CRC-32 that is not the one a patch was made for.
const char16_t* AnotherFile(Language language) {
  return Zh(language) ? u"这是另一个文件，或同一文件的另一个版本；补丁说明里可能写了需要哪一个\n"
                      : u"this is another file or another version of it; the patch's "
                        u"description or notes may say which one it needs\n";
}

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
  const char16_t* pattern = u"";
  switch (fault) {
    case ForeignFault::kNone: break;
#define ZELP_FOREIGN_FAULT(name, english, chinese) \
  case ForeignFault::name:                         \
    pattern = Zh(language) ? chinese : english;    \
    break;
#include "engine/foreign_faults.def"
#undef ZELP_FOREIGN_FAULT
  }
  return Fill(pattern, {KindName(info.kind), Grouped(info.at), Grouped(info.sourceSize),
                        Hex32(info.targetCrc)});
}

std::u16string ForeignDamageText(const ForeignInfo& info, Language language) {
  const std::u16string kind = KindName(info.kind);
  const std::u16string why = ForeignFaultText(info, info.fault, language);
  return Zh(language) ? kind + u" 补丁已损坏：" + why
                      : u"the " + kind + u" patch is damaged: " + why;
}

std::u16string ForeignSummaryText(const ForeignInfo& info, Language language) {
  const bool zh = Zh(language);
  std::u16string out;
  auto line = [&](const char16_t* english, const char16_t* chinese,
                  std::initializer_list<std::u16string> args) {
    out += Fill(zh ? chinese : english, args) + u"\n";
  };
  line(u"format: {0}", u"格式: {0}", {KindName(info.kind)});
  if (info.checksSource) {
    line(u"source: {0} bytes, CRC-32 {1}", u"原文件: {0} 字节，CRC32 {1}",
         {Grouped(info.sourceSize), Hex32(info.sourceCrc)});
    line(u"result: {0} bytes, CRC-32 {1}", u"结果: {0} 字节，CRC32 {1}",
         {Grouped(info.targetSize), Hex32(info.targetCrc)});
  } else {
    line(u"source: any file (an IPS patch checks nothing)", u"原文件: 任何文件（IPS 补丁不做检查）",
         {});
    if (info.cutTo >= 0)
      line(u"result: cut to {0} bytes", u"结果: 截短到 {0} 字节", {Grouped(info.cutTo)});
  }
  const bool ips = info.kind == PatchKind::kIps, ups = info.kind == PatchKind::kUps;
  line(ips   ? u"records: {0}"
       : ups ? u"hunks: {0}"
             : u"actions: {0}",
       ips   ? u"记录数: {0}"
       : ups ? u"段数: {0}"
             : u"操作数: {0}",
       {Grouped(info.steps)});
  return out;
}

std::u16string ForeignDiagnosisText(const ForeignInfo& info, const Diagnosis& d,
                                    const std::u16string& target, Language language) {
  if (!info.checksSource || (d.verdict != Verdict::kMatches && d.verdict != Verdict::kOtherFile))
    return DiagnosisText(d, target, language);
  const bool zh = Zh(language);
  const std::u16string wanted = Fill(zh ? u"CRC32 {0}，{1} 字节" : u"CRC-32 {0}, {1} bytes",
                                     {Hex32(info.sourceCrc), Grouped(info.sourceSize)});
  if (d.verdict == Verdict::kMatches)
    return Fill(zh ? u"补丁可以打在这个文件上（{0}）\n" : u"the patch applies to this file ({0})\n",
                {wanted});
  return Fill(zh ? u"需要的是 {0}，这个文件是 CRC32 {1}，{2} 字节\n"
                 : u"expected {0}; this file has CRC-32 {1}, {2} bytes\n",
              {wanted, Hex32(d.targetCrc), Grouped(d.targetSize)}) +
         AnotherFile(language);
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
      return Fill(zh ? u"需要的CRC32是 {0}，这个文件是 {1}（{2} 字节）\n"
                     : u"expected CRC-32 {0}, this file has {1} ({2} bytes)\n",
                  {Hex32(d.expectedCrc), Hex32(d.targetCrc), Grouped(d.targetSize)}) +
             AnotherFile(language);
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
