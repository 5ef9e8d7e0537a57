// zelp info / zelp apply: the engine's start-up read and application
// procedure, run on a file the user names.
#include <memory>

#include "cli/cli.h"
#include "common/report.h"
#include "common/text.h"
#include "engine/messages.h"
#include "engine/patch_base.h"
#include "engine/patch_stub.h"
#include "file/file.h"

namespace zelp::cli {

namespace {

// Finds where the patch starts in `file`: --base when given, else 0 for a
// bare patch or the stamped offset of a program that carries one. Returns
// kExitOk, or the exit code after printing why not.
int ResolveBase(const std::u16string& file, const Args& a, uint64_t& base, Console& console) {
  base = 0;
  if (const std::u16string* text = FindOption(a, u"--base")) {
    if (!ParseNumber(*text, base)) {
      console.Err(u"zelp: --base takes a decimal or 0x-hexadecimal number\n");
      return kExitUsage;
    }
    return kExitOk;
  }
  // A file that cannot be opened is left to the engine, which reports that
  // in its own words.
  CKOVA_File probe;
  if (!Open(file.c_str(), probe, kModeRead, kShareRead)) return kExitOk;
  probe.Close();
  std::u16string error;
  if (!FindPatchBase(file, base, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  return kExitOk;
}

bool ParsePatchArgs(const std::vector<std::u16string>& args, size_t files, Args& a,
                    Console& console) {
  std::u16string error;
  if (!ParseArgs(args, {u"--base"}, {}, a, error) || a.positional.size() != files) {
    if (!error.empty()) console.Err(u"zelp: " + error + u"\n");
    return false;
  }
  return true;
}

struct ReportCapture {
  Console* console;
  bool succeeded = false;
};

// Success goes to stdout, every other report to stderr, as text lines.
void PrintReport(void*, const char16_t* text, void* context) {
  auto* capture = static_cast<ReportCapture*>(context);
  std::u16string line = std::u16string(text) + u"\n";
  if (std::u16string(text) == kMsgSuccess)
    capture->console->Out(line);
  else
    capture->console->Err(line);
}

}  // namespace

int CmdInfo(const std::vector<std::u16string>& args, Console& console) {
  Args a;
  if (!ParsePatchArgs(args, 1, a, console)) return Usage(console, false);
  uint64_t base;
  if (int code = ResolveBase(a.positional[0], a, base, console)) return code;
  auto stub = std::make_unique<CPatchStub>(base);
  if (!stub->LoadPatchInfoFrom(a.positional[0].c_str())) {
    console.Err(std::u16string(kMsgInitFailed) + u"\n");
    return kExitFailed;
  }
  std::u16string out = CrLfToLf(stub->summary) + u"\n";
  std::u16string description = CrLfToLf(stub->info.description);
  if (!description.empty()) {
    out += u"\n" + description;
    if (description.back() != u'\n') out += u"\n";
  }
  console.Out(out);
  return kExitOk;
}

int CmdApply(const std::vector<std::u16string>& args, Console& console) {
  Args a;
  if (!ParsePatchArgs(args, 2, a, console)) return Usage(console, false);
  uint64_t base;
  if (int code = ResolveBase(a.positional[0], a, base, console)) return code;
  auto stub = std::make_unique<CPatchStub>(base);
  ReportCapture capture{&console};
  ReportSink old = SetReportSink(PrintReport, &capture);
  int ok = stub->ApplyPatchFiles(a.positional[0].c_str(), a.positional[1].c_str(), nullptr);
  SetReportSink(old, nullptr);
  return ok ? kExitOk : kExitFailed;
}

}  // namespace zelp::cli
