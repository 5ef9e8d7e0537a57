// zelp info / check / apply for IPS, UPS and BPS patches. In place, an IPS
// or UPS becomes ZELP records applied under the rollback journal; a BPS
// (which copies from anywhere in the source, so cannot be applied over it),
// -o and --header write the result whole into a new file beside its
// destination, check it, and only then rename it over: the target is never
// left mixed.
#include "cli/cli.h"
#include "common/text.h"
#include "engine/diagnose.h"
#include "engine/explain.h"
#include "engine/foreign.h"
#include "engine/messages.h"
#include "file/digests.h"
#include "file/file.h"
#include "file/memory_file.h"
#include "file/offset_file.h"
#include "file/out_file.h"

namespace zelp::cli {

namespace {

// IPS and UPS patches up to this size are applied in place; the records
// they become are held in memory.
constexpr int64_t kInPlaceLimit = int64_t{64} << 20;

// Opens and checks the whole patch; 0, or the exit code after saying why.
int OpenPatch(const std::u16string& path, PatchKind kind, CKOVA_File& patch, ForeignInfo& info,
              Console& console) {
  if (!Open(path.c_str(), patch, kModeRead, kShareRead)) {
    console.Err(std::u16string(kMsgPatchOpen) + u"\n");
    SayCannotOpen(console, path);
    return kExitFailed;
  }
  info = InspectForeign(patch, kind);
  if (info.fault == ForeignFault::kNone) return 0;
  console.Err(ZelpLines(ForeignDamageText(info, console.language)));
  return kExitFailed;
}

// The target opened for reading, seen past its copier header with --header.
int OpenTarget(const Args& a, CKOVA_File& target, int64_t& skip, Console& console) {
  const std::u16string& path = a.positional[1];
  if (!Open(path.c_str(), target, kModeRead, kShareRead)) {
    console.Err(std::u16string(kMsgTargetOpen) + u"\n");
    SayCannotReadTarget(console, path);
    return kExitFailed;
  }
  skip = HasFlag(a, u"--header") ? kCopierHeaderSize : 0;
  int64_t size = 0;
  target.GetSize(size);
  if (size < skip) {
    SayShortOfHeader(console, path);
    return kExitFailed;
  }
  return 0;
}

// The diagnosis of `source` printed; 0 when the patch applies to it, else
// the exit code. A refused apply leads with the program's line, as for a
// ZELP patch; check only explains.
int Judge(const ForeignInfo& info, CKOVA_xFile& source, const std::u16string& name,
          Console& console, bool applying) {
  Diagnosis d = DiagnoseForeign(info, source);
  std::u16string text = ZelpLines(ForeignDiagnosisText(info, d, name, console.language));
  if (d.verdict == Verdict::kMatches) {
    if (!applying) console.Out(text);
    return 0;
  }
  if (d.verdict == Verdict::kUnreadable) {
    console.Err(text);
    return kExitFailed;
  }
  if (applying) text.insert(0, std::u16string(kMsgCrcMismatch) + u"\n");
  console.Err(text);
  return kExitNotTheFile;
}

bool CopyHead(CKOVA_xFile& from, CKOVA_xFile& to, int64_t n) {
  uint8_t head[kCopierHeaderSize];
  return n == 0 || (from.Seek(0) && ReadExact(from, head, static_cast<size_t>(n)) &&
                    to.WriteAt(0, head, static_cast<uint32_t>(n)) == n);
}

}  // namespace

void PrintDigests(const std::u16string& path, int64_t skip, Digested what, Console& console) {
  CKOVA_File file;
  Digests d;
  if (!HaveDigests() || path == kStdoutName ||
      !Open(path.c_str(), file, kModeRead, kShareReadWrite))
    return;
  OffsetFile view(file, skip);
  if (!DigestFile(view, d)) return;
  const bool zh = console.language == Language::kChinese;
  console.Out(ZelpLines(Fill(zh ? u"{0}：{1}" : u"{0}: {1}",
                             {DigestLabel(what, skip != 0, console.language), DigestText(d)})));
}

PatchKind ForeignKind(const Args& a) {
  if (FindOption(a, u"--base")) return PatchKind::kZelp;  // a ZELP patch inside a file
  CKOVA_File file;
  if (!Open(a.positional[0].c_str(), file, kModeRead, kShareRead)) return PatchKind::kUnknown;
  return SniffPatch(file);
}

int ForeignInfoCmd(const Args& a, PatchKind kind, Console& console) {
  CKOVA_File patch;
  ForeignInfo info;
  int code = OpenPatch(a.positional[0], kind, patch, info, console);
  if (info.kind == PatchKind::kUnknown) return code;  // not opened
  std::u16string out = ForeignSummaryText(info, console.language);
  if (kind == PatchKind::kBps && info.metadataSize > 0) {
    std::u16string text;
    if (Utf8ToUtf16(info.metadata, text) && text.find(u'\0') == std::u16string::npos) {
      out += u"\n";
      out += CrLfToLf(text);
      if (out.back() != u'\n') out += u"\n";
    } else {
      out += Fill(console.language == Language::kChinese ? u"元数据: {0} 字节，不是文本\n"
                                                         : u"metadata: {0} bytes, not text\n",
                  {Decimal(info.metadataSize)});
    }
  }
  if (code == 0 || info.fault == ForeignFault::kPatchCrc) console.Out(out);
  return code;
}

int ForeignCheckCmd(const Args& a, PatchKind kind, Console& console) {
  CKOVA_File patch, target;
  ForeignInfo info;
  int64_t skip = 0;
  if (int code = OpenPatch(a.positional[0], kind, patch, info, console)) return code;
  if (int code = OpenTarget(a, target, skip, console)) return code;
  OffsetFile source(target, skip);
  int code = Judge(info, source, a.positional[1], console, false);
  PrintDigests(a.positional[1], skip, Digested::kThisFile, console);
  return code;
}

int ForeignApplyCmd(const Args& a, PatchKind kind, Console& console) {
  const std::u16string &patchPath = a.positional[0], &targetPath = a.positional[1];
  const std::u16string* output = FindOption(a, u"-o");
  const std::u16string dest = output ? *output : targetPath;
  if (output)
    for (const std::u16string* in : {&patchPath, &targetPath})
      if (SayIfOutputIsInput(console, *output, *in)) return kExitFailed;
  CKOVA_File patch, target;
  ForeignInfo info;
  int64_t skip = 0;
  if (int code = OpenPatch(patchPath, kind, patch, info, console)) return code;
  if (int code = OpenTarget(a, target, skip, console)) return code;
  OffsetFile source(target, skip);
  if (int code = Judge(info, source, targetPath, console, true)) return code;
  int64_t before = -1;
  target.GetSize(before);
  Bilingual error;
  if (HasFlag(a, u"--backup")) {
    const std::u16string backup = targetPath + u".bak";
    const bool force = HasFlag(a, u"--force");
    OutputFile copy;
    if (!copy.Create(backup, error)) {
      Say(console, error);
      return kExitFailed;
    }
    if (copy.replaces() && !force) {
      SayBackupExists(console, backup);
      return kExitFailed;
    }
    if (!copy.CopyFrom(target, targetPath) || !copy.Commit(force)) {
      SayBackupFailed(console, backup);
      return kExitFailed;
    }
  }
  // IPS and UPS change bytes where they stand: in place they become the
  // same checked records a ZELP patch has, written under the rollback
  // journal. A BPS reads bytes an in-place run would already have changed.
  if (!output && !skip && kind != PatchKind::kBps && info.patchSize <= kInPlaceLimit) {
    std::vector<uint8_t> zelp;
    uint32_t crc = 0;
    ForeignFault fault = ForeignAsZelp(patch, info, target, zelp, crc);
    if (fault != ForeignFault::kNone) {
      console.Err(ZelpLines(ForeignFaultText(info, fault, console.language)));
      SayUnchanged(console, targetPath, nullptr);
      return kExitFailed;
    }
    target.Close();
    MemoryFile records(zelp);
    int code = ApplyInPlaceFrom(records, targetPath, console);
    if (code != kExitOk) return code;
    SayPatched(console, targetPath, nullptr, before, SizeOf(targetPath));
    if (HasFlag(a, u"--checksums")) PrintDigests(targetPath, 0, Digested::kResult, console);
    if (HasFlag(a, u"--backup")) SayOriginalKept(console, targetPath + u".bak");
    return code;
  }
  ForeignFault fault = ForeignFault::kNone;
  {
    // The temporary file is gone before anything is said: a result that did
    // not fit may have taken the disk's last space.
    OutputFile out;
    if (!out.Create(dest, error)) {
      Say(console, error);
      return kExitFailed;
    }
    OffsetFile result(out.file(), skip);
    uint32_t crc = 0;
    // The space for the whole result first: a disk that cannot hold it (or a
    // patch that names an absurd size) fails here, before any writing.
    int64_t sourceSize = 0;
    source.GetSize(sourceSize);
    const int64_t resultSize = ForeignResultSize(info, sourceSize);
    if (resultSize > INT64_MAX - skip || !out.file().Reserve(skip + resultSize))
      fault = ForeignFault::kWrite;
    else if (!CopyHead(target, out.file(), skip))
      fault = ForeignFault::kSourceRead;
    else
      fault = ProduceForeign(patch, info, source, result, crc);
    if (fault == ForeignFault::kNone && !out.Commit()) fault = ForeignFault::kWrite;
  }
  if (fault != ForeignFault::kNone) {
    console.Err(ZelpLines(ForeignFaultText(info, fault, console.language)));
    SayUnchanged(console, targetPath, output);
    return kExitFailed;
  }
  std::u16string done = std::u16string(kMsgSuccess) + u"\n";
  dest == kStdoutName ? console.Err(done) : console.Out(done);
  if (dest != kStdoutName) SayPatched(console, targetPath, output, before, SizeOf(dest));
  if (HasFlag(a, u"--checksums")) PrintDigests(dest, skip, Digested::kResult, console);
  if (HasFlag(a, u"--backup")) SayOriginalKept(console, targetPath + u".bak");
  return kExitOk;
}

int CmdConvert(const Args& a, Console& console) {
  const std::u16string* output = FindOption(a, u"-o");
  if (!output) return UsageError(console, u"convert", MissingOutput());
  const std::u16string &patchPath = a.positional[0], &originalPath = a.positional[1];
  // The modified file is made beside OUT, handed to create, then removed.
  const std::u16string middle =
      (*output == kStdoutName ? std::u16string(u"zelp-convert") : *output) + u".zelp-modified";
  const PatchKind kind = ForeignKind(a);
  Bilingual error;
  std::u16string description;
  bool metadataText = false;
  {
    CKOVA_File original;
    if (!Open(originalPath.c_str(), original, kModeRead, kShareRead)) {
      SayCannotOpen(console, originalPath);
      return kExitFailed;
    }
    OutputFile mid;
    if (!mid.Create(middle, error)) {
      Say(console, error);
      return kExitFailed;
    }
    if (IsForeign(kind)) {
      CKOVA_File patch;
      ForeignInfo info;
      if (int code = OpenPatch(patchPath, kind, patch, info, console)) return code;
      if (int code = Judge(info, original, originalPath, console, true)) return code;
      uint32_t crc = 0;
      ForeignFault fault = ProduceForeign(patch, info, original, mid.file(), crc);
      if (fault != ForeignFault::kNone) {
        console.Err(ZelpLines(ForeignFaultText(info, fault, console.language)));
        return kExitFailed;
      }
      metadataText = kind == PatchKind::kBps && !info.metadata.empty() &&
                     Utf8ToUtf16(info.metadata, description) &&
                     description.find(u'\0') == std::u16string::npos;
    } else {
      if (!mid.CopyFrom(original, originalPath)) {
        Say(console, u"cannot copy " + Quote(originalPath), u"无法复制 " + Quote(originalPath));
        return kExitFailed;
      }
      if (int code = ApplyZelpToCopy(a, mid.file(), console)) return code;
    }
    if (!mid.Commit()) {
      SayCannotWrite(console, middle);
      return kExitFailed;
    }
  }
  // Line breaks as the ZELP description wants them (CR LF).
  std::u16string crlf;
  for (char16_t c : CrLfToLf(description)) c == u'\n' ? crlf += u"\r\n" : crlf += c;
  int code =
      CreateFromFiles(a, u"convert", originalPath, middle, metadataText ? &crlf : nullptr, console);
  RemovePath(middle.c_str());
  return code;
}

}  // namespace zelp::cli
