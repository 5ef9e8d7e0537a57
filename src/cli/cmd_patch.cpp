// zelp info / check / apply: the engine's start-up read, diagnosis and
// application procedure, run on files the user names. The engine's own
// report line comes first, unchanged; "zelp: " lines in the user's language
// explain it.
#include <cstdio>
#include <memory>

#include "cli/cli.h"
#include "common/report.h"
#include "common/signal_hold.h"
#include "common/text.h"
#include "engine/by_name.h"
#include "engine/diagnose.h"
#include "engine/explain.h"
#include "engine/journal.h"
#include "engine/patch_base.h"
#include "engine/patch_stub.h"
#include "file/file.h"
#include "file/offset_file.h"
#include "file/out_file.h"

namespace zelp::cli {

namespace {

// Finds where the patch starts in `file`: --base when given, else 0 for a
// bare patch or the stamped offset of a program that carries one. Returns
// kExitOk, or the exit code after printing why not.
int ResolveBase(const std::u16string& file, const Args& a, uint64_t& base, Console& console,
                const char16_t* command) {
  base = 0;
  if (const std::u16string* text = FindOption(a, u"--base")) {
    if (!ParseNumber(*text, base))
      return UsageError(console, command,
                        {u"--base takes a decimal or 0x-hexadecimal number",
                         u"--base 要的是十进制数或以 0x 开头的十六进制数"});
    return kExitOk;
  }
  const Outcome o = FindPatchBaseOf(file, base);
  // A file that cannot be opened is left to the engine, which reports that
  // in its own words.
  if (o == Outcome::kOk || o == Outcome::kPatchOpen) return kExitOk;
  const bool zh = console.language == Language::kChinese;
  console.Err(ZelpLines(Quote(file) + (zh ? u"：" : u": ") + Explanation(o, console.language)));
  if (o == Outcome::kManyStamps)
    console.Err(ZelpLines(zh ? u"请用 --base 指定补丁从哪里开始"
                             : u"use --base to say where the patch begins"));
  return kExitFailed;
}

int64_t HeaderSkip(const Args& a) { return HasFlag(a, u"--header") ? kCopierHeaderSize : 0; }

// With --header, the target must be longer than the header; 0, or the exit
// code after saying so.
int HeaderFits(const Args& a, Console& console) {
  int64_t size = -1;
  CKOVA_File target;
  if (!HasFlag(a, u"--header") || !Open(a.positional[1].c_str(), target, kModeRead, kShareRead))
    return 0;  // a target that cannot be opened is reported where it is used
  target.GetSize(size);
  if (size >= kCopierHeaderSize) return 0;
  SayShortOfHeader(console, a.positional[1]);
  return kExitFailed;
}

int ExitCode(Outcome o) {
  switch (ExitClassOf(o)) {
    case ExitClass::kExitOk: return kExitOk;
    case ExitClass::kExitFailed: return kExitFailed;
    case ExitClass::kExitNotTheFile: return kExitNotTheFile;
  }
  return kExitFailed;
}

// Prints the engine's report (success on stdout, anything else on stderr,
// then its explanation) and returns the exit code.
int Finish(Outcome o, Console& console) {
  const std::u16string report = ReportText(o);
  if (o == Outcome::kOk) {
    console.Out(report + u"\n");
    return kExitOk;
  }
  std::u16string why = Explanation(o, console.language);
  // Said once the target was open and found unfit; a target that could not
  // be opened needs no such words.
  if (!MayHaveWritten(o) && o != Outcome::kPatchOpen && o != Outcome::kTargetOpen &&
      o != Outcome::kTargetUnreadable)
    why += UnchangedText(console.language);
  console.Err(report + u"\n" + ZelpLines(why));
  return ExitCode(o);
}

// The engine's report. In place (`console` set) it is printed at once, while
// the engine still holds the requests to end the run; once the target may
// have been written, such requests are ignored from then on, so that the
// run ends by itself with its report.
struct ReportCapture {
  const CPatchStub* stub = nullptr;
  Console* console = nullptr;
  int code = kExitFailed;
  bool reported = false;
  std::u16string notices;  // the engine's remarks, printed after the report
};

void Capture(void*, const char16_t*, void* context) {
  auto* c = static_cast<ReportCapture*>(context);
  c->reported = true;
  if (!c->console) return;
  if (MayHaveWritten(c->stub->outcome)) IgnoreEndRequests();
  c->code = Finish(c->stub->outcome, *c->console);
  c->console->Err(c->notices);
  c->notices.clear();
}

void PrintNotice(const char16_t* text, void* context) {
  auto* c = static_cast<ReportCapture*>(context);
  if (!c->console) return;
  std::u16string line = ZelpLines(text);
  c->reported ? c->console->Err(line) : void(c->notices += line);
}

using zelp::Recovered;
using zelp::Recovery;

// What the next apply will do with a journal found beside the target.
std::u16string JournalAhead(const Recovery& r, Language language) {
  const std::u16string j = Quote(r.journal);
  const bool zh = language == Language::kChinese;
  switch (r.state) {
    case Recovered::kNone: return u"";
    case Recovered::kRolledBack:
      return zh ? u"上次运行被中断，留下了日志 " + j +
                      u"：下次打补丁会先恢复目标文件；以下按恢复后的样子判断："
                : u"an interrupted run left the journal " + j +
                      u": the next apply puts the target back first; judged as it will be then:";
    case Recovered::kFinished:
      return zh ? u"已完成的运行留下了日志 " + j + u"：下次打补丁会删除它"
                : u"a finished run left the journal " + j + u": the next apply removes it";
    default:
      return zh ? u"日志 " + j +
                      u" 已损坏、不属于这个文件或不可信：下次打补丁会把它放到一边，不应用"
                : u"the journal " + j +
                      u" is damaged, not for this file or not to be trusted: the next apply sets "
                      u"it aside and does not apply it";
  }
}

// `text` with its control characters (but line feeds and tabs) written as
// \xHH or \uHHHH.
std::u16string Visible(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\n' || c == u'\t' || (c >= 0x20 && c < 0x7F) || c > 0x9F) {
      out += c;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
      out += AsciiToUtf16(buf);
    }
  }
  return out;
}

int Diagnosed(const std::u16string& patchPath, const std::u16string& targetPath, uint64_t base,
              Console& console, bool toStdout, int64_t skip) {
  CKOVA_File patch, target;
  for (auto [path, file, share] : {std::tuple(&patchPath, &patch, kShareRead),
                                   std::tuple(&targetPath, &target, kShareReadWrite)}) {
    if (!Open(path->c_str(), *file, kModeRead, share)) {
      SayCannotOpen(console, *path);
      return kExitFailed;
    }
  }
  // A journal an interrupted run left: the next apply deals with it first,
  // so the target is judged as it will be then.
  FileJournalSpot spot(targetPath.c_str(), target);
  Recovery r = RecoverFromJournal(spot, target, true);
  if (r.state != Recovered::kNone) console.Err(ZelpLines(JournalAhead(r, console.language)));
  std::unique_ptr<RolledBackView> view;
  if (r.file) view.reset(new RolledBackView(target, *r.file, r.contents));
  OffsetFile source(view ? static_cast<CKOVA_xFile&>(*view) : target, skip);
  Diagnosis d = Diagnose(patch, source, base);
  spot.CloseFound();
  std::u16string text = ZelpLines(DiagnosisText(d, targetPath, console.language));
  toStdout&& d.verdict == Verdict::kMatches ? console.Out(text) : console.Err(text);
  if (d.verdict == Verdict::kMatches) return kExitOk;
  return d.verdict == Verdict::kBadPatch || d.verdict == Verdict::kUnreadable ? kExitFailed
                                                                              : kExitNotTheFile;
}

// Runs `run(stub)` with the patch at `base` and yields the engine's outcome;
// with `console`, prints the report as it comes (see ReportCapture).
template <class Run>
ReportCapture Captured(uint64_t base, Run run, Console* console = nullptr,
                       Outcome* outcome = nullptr) {
  auto stub = std::make_unique<CPatchStub>(base);
  ReportCapture capture;
  capture.stub = stub.get();
  capture.console = console;
  {
    ReportRoute route(Capture, &capture);
    // The engine's remarks (a journal found and put back, a run without one),
    // after the report line.
    SayRemarks(console ? console->language : Language::kEnglish);
    NoticeRoute notices(PrintNotice, &capture);
    run(*stub);
  }
  if (console) console->Err(capture.notices);
  if (outcome) *outcome = stub->outcome;
  return capture;
}

// The copy that apply -o patches, with the CRC-32 its source was found to
// have: the engine's check then needs no second pass over the same bytes.
// Any write before that check makes it read the file again.
class CopyWithKnownCrc : public CKOVA_xFile {
 public:
  CopyWithKnownCrc(CKOVA_xFile& file, uint32_t crc) : f_(file), crc_(crc) {}
  uint32_t Read(void* b, uint32_t n) override { return f_.Read(b, n); }
  uint32_t Write(const void* b, uint32_t n) override { return known_ = false, f_.Write(b, n); }
  void Close() override { f_.Close(); }
  void GetSize(int64_t& size) override { f_.GetSize(size); }
  int Tell(int64_t& position) override { return f_.Tell(position); }
  bool Seek(int64_t position) override { return f_.Seek(position); }
  uint32_t Crc32() override { return known_ ? crc_ : f_.Crc32(); }
  bool WholeCrc32(uint32_t& crc) override {
    if (!known_) return f_.WholeCrc32(crc);
    crc = crc_;
    return true;
  }
  bool SecureWrites(const std::vector<zelp::ByteRange>& ranges) override {
    return f_.SecureWrites(ranges);
  }
  bool IsOpen() override { return f_.IsOpen(); }
  bool SetEnd() override { return known_ = false, f_.SetEnd(); }
  bool Reserve(int64_t size) override { return known_ = false, f_.Reserve(size); }
  bool Flush() override { return f_.Flush(); }
  int64_t WriteAt(int64_t at, const void* b, uint32_t n) override {
    return known_ = false, f_.WriteAt(at, b, n);
  }

 private:
  CKOVA_xFile& f_;
  uint32_t crc_;
  bool known_ = true;
};

// The target as a copy of it starts: the file itself or, after an
// interrupted run, the file as its journal will put it back (the target
// itself untouched).
struct CopySource {
  CKOVA_File target;
  std::unique_ptr<FileJournalSpot> spot;
  Recovery found;
  std::unique_ptr<RolledBackView> view;
  CKOVA_xFile& file() { return view ? static_cast<CKOVA_xFile&>(*view) : target; }
  ~CopySource() {
    if (spot) spot->CloseFound();
  }
};

// A copy of the source that -o or --backup write: refused when the CRC
// already tells that the patch is for another file (kExitOk when not).
int CrcFirst(CKOVA_File& patch, CKOVA_xFile& source, uint64_t base, const Args& a, Console& console,
             uint32_t& crc) {
  StreamCheck header = CheckPatch(patch, base);
  crc = source.Crc32();
  // A damaged patch is left to the engine, which reports it in its words.
  if (header.damage != Outcome::kOk || header.targetCrc == 0 || crc == header.targetCrc)
    return kExitOk;
  Finish(Outcome::kCrcMismatch, console);
  console.Err(
      ZelpLines(DiagnosisText(Diagnose(patch, source, base), a.positional[1], console.language)));
  return kExitNotTheFile;
}

// Both files open for reading, the target's CRC-32 checked before anything
// is copied, and `out` created at `outPath`: 0, or the exit code of the
// failure, already reported.
int PrepareCopy(const Args& a, uint64_t base, const std::u16string& outPath, Console& console,
                CKOVA_File& patch, CopySource& src, uint32_t& crc, OutputFile& out) {
  const std::u16string &patchPath = a.positional[0], &targetPath = a.positional[1];
  if (!Open(patchPath.c_str(), patch, kModeRead, kShareRead))
    return Finish(Outcome::kPatchOpen, console);
  if (!Open(targetPath.c_str(), src.target, kModeRead, kShareRead)) {
    console.Err(std::u16string(ReportText(Outcome::kTargetOpen)) + u"\n");
    SayCannotReadTarget(console, targetPath);
    return kExitFailed;
  }
  src.spot.reset(new FileJournalSpot(targetPath.c_str(), src.target));
  src.found = RecoverFromJournal(*src.spot, src.target, true);
  if (src.found.file) {
    src.view.reset(new RolledBackView(src.target, *src.found.file, src.found.contents));
    Say(console,
        u"an interrupted run left the journal " + Quote(src.found.journal) +
            u": the copy is made from the target as it was before that run",
        u"上次运行被中断，留下了日志 " + Quote(src.found.journal) +
            u"：副本按那次运行之前的目标文件制作");
  }
  OffsetFile source(src.file(), HeaderSkip(a));
  if (int code = CrcFirst(patch, source, base, a, console, crc)) return code;
  Bilingual error;
  if (!out.Create(outPath, error)) {
    Say(console, error);
    return kExitFailed;
  }
  return 0;
}

// Copies the source into `out`: through the system's copy for the file
// itself, byte by byte for the file as its journal will leave it.
bool CopySourceTo(CopySource& src, const std::u16string& targetPath, OutputFile& out) {
  if (!src.view) return out.CopyFrom(src.target, targetPath);
  CKOVA_File& to = out.file();
  if (!SetSize(to, 0) || !src.view->Seek(0)) return false;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[1 << 20]);
  for (;;) {
    size_t n = ReadFull(*src.view, buf.get(), 1 << 20);
    if (n == 0) break;
    if (!WriteAll(to, buf.get(), n)) return false;
  }
  int64_t want = -1, got = -2;
  src.view->GetSize(want);
  to.GetSize(got);
  return want == got && to.Seek(0);
}

// Writes the patched copy of the target to `output` (with --header, past the
// target's first 512 bytes, which are copied as they are); `output` may be
// the target itself, replaced only once the copy is complete.
int ApplyToCopy(const Args& a, uint64_t base, const std::u16string& output, Console& console) {
  const std::u16string &patchPath = a.positional[0], &targetPath = a.positional[1];
  const bool inPlace = output == targetPath;
  for (const std::u16string* in : {&patchPath, &targetPath})
    if (!(inPlace && in == &targetPath) && SayIfOutputIsInput(console, output, *in))
      return kExitFailed;
  // Before a copy in place has replaced the target.
  const int64_t before = SizeOf(targetPath);
  CKOVA_File patch;
  CopySource src;
  uint32_t crc = 0;
  OutputFile out;
  if (int code = PrepareCopy(a, base, output, console, patch, src, crc, out)) return code;
  if (!CopySourceTo(src, targetPath, out)) {
    Say(console, u"cannot copy " + Quote(targetPath) + u" to " + Quote(output),
        u"无法把 " + Quote(targetPath) + u" 复制到 " + Quote(output));
    return kExitFailed;
  }
  OffsetFile view(out.file(), HeaderSkip(a));
  CopyWithKnownCrc copy(view, crc);
  Outcome o = Outcome::kOk;
  Captured(
      base, [&](CPatchStub& stub) { stub.ApplyOpened(patch, copy, nullptr); }, nullptr, &o);
  int64_t after = -1;
  out.file().GetSize(after);
  if (o == Outcome::kOk && !out.Commit()) {
    SayCannotWrite(console, output);
    return kExitFailed;
  }
  int code = Finish(o, console);
  // The engine's words are about the file it wrote: the copy, now gone.
  if (code != kExitOk)
    SayUnchanged(console, targetPath, inPlace ? nullptr : &output);
  else if (output != kStdoutName)
    SayPatched(console, targetPath, inPlace ? nullptr : &output, before, after);
  return code;
}

// The application procedure on the target itself, its report printed;
// returns the exit code.
int ApplyInPlace(const std::u16string& patchPath, const std::u16string& targetPath, uint64_t base,
                 Console& console) {
  const int64_t before = SizeOf(targetPath);
  int code = Captured(
                 base,
                 [&](CPatchStub& stub) {
                   stub.ApplyPatchFiles(patchPath.c_str(), targetPath.c_str(), nullptr);
                 },
                 &console)
                 .code;
  if (code == kExitOk) SayPatched(console, targetPath, nullptr, before, SizeOf(targetPath));
  return code;
}

int ApplyWithBackup(const Args& a, uint64_t base, Console& console) {
  const std::u16string &patchPath = a.positional[0], &targetPath = a.positional[1];
  const std::u16string backup = targetPath + u".bak";
  const bool force = HasFlag(a, u"--force");
  {
    // The target must be writable before a backup of it is worth making; a
    // journal an interrupted run left is put back first, so that the backup
    // holds the file as it was before that run.
    CKOVA_File target;
    if (!Open(targetPath.c_str(), target, kModeReadWrite, kShareRead)) {
      console.Err(std::u16string(ReportText(Outcome::kTargetOpen)) + u"\n");
      Say(console,
          u"cannot open the target " + Quote(targetPath) + u" for writing; no backup was made",
          u"无法写入目标文件 " + Quote(targetPath) + u"；没有制作备份");
      return kExitFailed;
    }
    FileJournalSpot spot(targetPath.c_str(), target);
    Recovery r;
    {
      SignalHold hold;
      r = RecoverFromJournal(spot, target);
    }
    if (r.state != Recovered::kNone) console.Err(ZelpLines(RecoveryText(r, console.language)));
    if (r.state == Recovered::kFailed || r.state == Recovered::kKept) {
      console.Err(std::u16string(ReportText(Outcome::kTargetOpen)) + u"\n");
      Say(console, u"no backup was made", u"没有制作备份");
      return kExitFailed;
    }
  }
  {
    CKOVA_File patch;
    CopySource src;
    uint32_t crc = 0;
    OutputFile out;
    if (int code = PrepareCopy(a, base, backup, console, patch, src, crc, out)) return code;
    if (out.replaces() && !force) {
      SayBackupExists(console, backup);
      return kExitFailed;
    }
    // Durable (data and name) before the target is opened for writing.
    if (!CopySourceTo(src, targetPath, out) || !out.Commit(force)) {
      SayBackupFailed(console, backup);
      return kExitFailed;
    }
  }
  int code = HasFlag(a, u"--header") ? ApplyToCopy(a, base, targetPath, console)
                                     : ApplyInPlace(patchPath, targetPath, base, console);
  if (code == kExitOk)
    SayOriginalKept(console, backup);
  else
    Say(console, u"the target's bytes before this run are in " + Quote(backup),
        u"本次运行前的目标文件保存在 " + Quote(backup));
  return code;
}

int ApplyHere(const Args& a, uint64_t base, Console& console) {
  const std::u16string &patchPath = a.positional[0], &targetPath = a.positional[1];
  // A copier header is kept by patching a copy past it, renamed over the
  // target once complete.
  if (HasFlag(a, u"--header")) return ApplyToCopy(a, base, targetPath, console);
  int code = ApplyInPlace(patchPath, targetPath, base, console);
  if (code == kExitNotTheFile) Diagnosed(patchPath, targetPath, base, console, false, 0);
  return code;
}

}  // namespace

int ApplyInPlaceFrom(CKOVA_xFile& patch, const std::u16string& targetPath, Console& console) {
  return Captured(
             0, [&](CPatchStub& stub) { stub.ApplyToPath(patch, targetPath.c_str(), nullptr); },
             &console)
      .code;
}

int ApplyZelpToCopy(const Args& a, CKOVA_xFile& copy, Console& console) {
  uint64_t base;
  if (int code = ResolveBase(a.positional[0], a, base, console, u"convert")) return code;
  CKOVA_File patch;
  if (!Open(a.positional[0].c_str(), patch, kModeRead, kShareRead))
    return Finish(Outcome::kPatchOpen, console);
  Outcome o = Outcome::kOk;
  Captured(
      base, [&](CPatchStub& stub) { stub.ApplyOpened(patch, copy, nullptr); }, nullptr, &o);
  return o == Outcome::kOk ? kExitOk : Finish(o, console);
}

int CmdInfo(const Args& a, Console& console) {
  if (PatchKind kind = ForeignKind(a); IsForeign(kind)) return ForeignInfoCmd(a, kind, console);
  const std::u16string& path = a.positional[0];
  uint64_t base;
  if (int code = ResolveBase(path, a, base, console, u"info")) {
    // No patch at all: most likely the file to patch, whose checksums are
    // what a ROM catalogue is searched by.
    if (code == kExitFailed && !FindOption(a, u"--base"))
      PrintDigests(path, 0, Digested::kThisFile, console);
    return code;
  }
  auto stub = std::make_unique<CPatchStub>(base);
  CKOVA_File file;
  bool opened = Open(path.c_str(), file, kModeRead, kShareRead);
  if (!opened || !stub->LoadPatchInfoFromFile(file)) {
    console.Err(std::u16string(ReportText(Outcome::kInitFailed)) + u"\n");
    if (!opened)
      SayCannotOpen(console, path);
    else
      console.Err(ZelpLines(DamageText(CheckPatch(file, base), console.language)));
    return kExitFailed;
  }
  std::u16string out = CrLfToLf(stub->summary) + u"\n" +
                       SummaryLine(stub->info.version, stub->info.targetCrc, stub->info.targetSize,
                                   console.language) +
                       u"\n";
  std::u16string description = CrLfToLf(stub->info.description);
  // A patch's text must not drive the terminal: its control characters are
  // shown, not sent. A file or a pipe gets the text exactly.
  if (console.OutIsTerminal()) description = Visible(description);
  if (!description.empty()) {
    out += u"\n" + description;
    if (description.back() != u'\n') out += u"\n";
  }
  console.Out(out);
  // The summary reads only the header: a patch cut short shows it too.
  StreamCheck check = CheckPatch(file, base);
  if (check.damage != Outcome::kOk) {
    console.Err(ZelpLines(DamageText(check, console.language)));
    return kExitFailed;
  }
  return kExitOk;
}

int CmdCheck(const Args& a, Console& console) {
  if (PatchKind kind = ForeignKind(a); IsForeign(kind)) return ForeignCheckCmd(a, kind, console);
  uint64_t base;
  if (int code = ResolveBase(a.positional[0], a, base, console, u"check")) return code;
  if (int code = HeaderFits(a, console)) return code;
  int code = Diagnosed(a.positional[0], a.positional[1], base, console, true, HeaderSkip(a));
  PrintDigests(a.positional[1], HeaderSkip(a), Digested::kThisFile, console);
  return code;
}

int CmdApply(const Args& a, Console& console) {
  const std::u16string* output = FindOption(a, u"-o");
  const bool backup = HasFlag(a, u"--backup");
  if (output && backup)
    return UsageError(console, u"apply",
                      {u"-o and --backup exclude each other: with -o the target stays untouched",
                       u"-o 和 --backup 不能同时使用：用 -o 时目标文件不会被改动"});
  if (HasFlag(a, u"--force") && !backup)
    return UsageError(console, u"apply",
                      {u"--force goes with --backup", u"--force 只能和 --backup 一起用"});
  if (PatchKind kind = ForeignKind(a); IsForeign(kind)) return ForeignApplyCmd(a, kind, console);
  if (int code = HeaderFits(a, console)) return code;
  uint64_t base;
  if (int code = ResolveBase(a.positional[0], a, base, console, u"apply")) return code;
  const std::u16string& dest = output ? *output : a.positional[1];
  int code = output   ? ApplyToCopy(a, base, *output, console)
             : backup ? ApplyWithBackup(a, base, console)
                      : ApplyHere(a, base, console);
  if (code == kExitOk && HasFlag(a, u"--checksums"))
    PrintDigests(dest, HeaderSkip(a), Digested::kResult, console);
  return code;
}

}  // namespace zelp::cli
