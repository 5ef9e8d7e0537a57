// zelp create: a patch (or, with --stub or an OUT ending in .exe, a
// distributable program) that turns one file into another.
#include <string>

#include "author/description.h"
#include "author/tool.h"
#include "cli/cli.h"
#include "common/text.h"
#include "file/file.h"
#include "file/out_file.h"

namespace zelp::cli {

namespace {

// Reads the description file and converts it; false after printing why.
bool LoadDescription(const std::u16string& path, std::u16string& text, Console& console) {
  CKOVA_File file;
  if (!Open(path.c_str(), file, kModeRead, kShareRead)) {
    console.Err(u"zelp: cannot open the description " + Quote(path) + u"\n");
    return false;
  }
  // No UTF-8 character takes more than 3 bytes per UTF-16 unit, so a longer
  // file is too long whatever it holds; reading stops there.
  const size_t cap = 3 * author::kMaxDescriptionUnits + 4;
  std::string bytes(cap + 1, '\0');
  size_t have = 0;
  while (have < bytes.size()) {
    uint32_t got = file.Read(&bytes[have], static_cast<uint32_t>(bytes.size() - have));
    if (got == 0) break;
    have += got;
  }
  bytes.resize(have);
  size_t units = 0;
  auto result = have > cap ? author::DescriptionError::kTooLong
                           : author::DescriptionFromBytes(bytes, text, units);
  if (result == author::DescriptionError::kNone) return true;
  console.Err(u"zelp: " + author::DescriptionErrorText(result, path, units) + u"\n");
  return false;
}

bool EndsWithExe(const std::u16string& path) {
  if (path.size() < 4) return false;
  std::u16string tail = path.substr(path.size() - 4);
  for (char16_t& c : tail)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return tail == u".exe";
}

}  // namespace

int CmdCreate(const Args& a, Console& console) {
  if (!FindOption(a, u"-o")) return UsageError(console, u"create", u"missing -o OUT");
  author::CreateRequest request;
  request.original = a.positional[0];
  request.modified = a.positional[1];
  request.output = *FindOption(a, u"-o");
  request.crc = !HasFlag(a, u"--no-crc");
  if (const std::u16string* stub = FindOption(a, u"--stub")) {
    request.stub = *stub;
  } else if (EndsWithExe(request.output)) {
    std::vector<std::u16string> looked;
    request.stub = InstalledStub(looked);
    if (request.stub.empty()) {
      std::u16string places;
      for (const std::u16string& p : looked) places += u"\n  " + p;
      console.Err(u"zelp: '" + request.output +
                  u"' ends in .exe, but no dialog program was found to put the patch in; name "
                  u"one with --stub (looked for:" +
                  places + u")\n");
      return kExitFailed;
    }
  }
  if (const std::u16string* description = FindOption(a, u"--description")) {
    if (SameFile(request.output, *description)) {
      console.Err(u"zelp: the output '" + request.output + u"' is the description '" +
                  *description + u"'; choose another name\n");
      return kExitFailed;
    }
    if (!LoadDescription(*description, request.description, console)) return kExitFailed;
    request.hasDescription = true;
  }
  author::PatchStats stats;
  author::OutputInfo info;
  std::u16string error;
  if (!author::CreatePatchFile(request, stats, info, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  std::u16string notes =
      author::CreateNotes(stats.records == 0 && SizeOf(request.original) == stats.targetSize,
                          request.crc && stats.targetCrc == 0, request.original, request.modified);
  if (info.replacedOutput) notes += u"replaced the existing " + Quote(request.output) + u"\n";
  console.Err(ZelpLines(notes));
  std::u16string line =
      u"zelp: " + author::WroteText(!request.stub.empty(), request.output, info.fileSize, stats) +
      (FindOption(a, u"--stub") || request.stub.empty()
           ? u""
           : u" (dialog program " + request.stub + u")") +
      u"\n";
  // With -o -, standard output holds the patch: the report goes beside it.
  request.output == kStdoutName ? console.Err(line) : console.Out(line);
  return kExitOk;
}

}  // namespace zelp::cli
