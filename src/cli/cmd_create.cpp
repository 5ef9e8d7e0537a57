// zelp create: a patch (or, with --stub, a distributable program) that turns
// one file into another.
#include <cstdio>
#include <string>

#include "author/description.h"
#include "author/out_file.h"
#include "author/tool.h"
#include "cli/cli.h"
#include "common/text.h"
#include "file/file.h"

namespace zelp::cli {

namespace {

// Reads the description file and converts it; false after printing why.
bool LoadDescription(const std::u16string& path, std::u16string& text, Console& console) {
  CKOVA_File file;
  if (!Open(path.c_str(), file, kModeRead, kShareRead)) {
    console.Err(u"zelp: cannot open the description '" + path + u"'\n");
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
                           : author::DescriptionFromUtf8(bytes, text, units);
  switch (result) {
    case author::DescriptionError::kNone: return true;
    case author::DescriptionError::kInvalidUtf8:
      console.Err(u"zelp: the description '" + path + u"' is not valid UTF-8\n");
      return false;
    case author::DescriptionError::kNul:
      console.Err(u"zelp: the description '" + path + u"' contains a NUL character\n");
      return false;
    case author::DescriptionError::kTooLong:
      console.Err(
          u"zelp: the description '" + path + u"' is too long: " +
          (units ? Decimal(units) + u" UTF-16 units, at most " +
                       Decimal(author::kMaxDescriptionUnits) + u" fit\n"
                 : u"more than " + Decimal(author::kMaxDescriptionUnits) + u" UTF-16 units\n"));
      return false;
  }
  return false;
}

}  // namespace

int CmdCreate(const std::vector<std::u16string>& args, Console& console) {
  Args a;
  std::u16string error;
  if (!ParseArgs(args, {u"-o", u"--description", u"--stub"}, {u"--no-crc"}, a, error) ||
      a.positional.size() != 2 || !FindOption(a, u"-o")) {
    if (!error.empty()) console.Err(u"zelp: " + error + u"\n");
    return Usage(console, false);
  }
  author::CreateRequest request;
  request.original = a.positional[0];
  request.modified = a.positional[1];
  request.output = *FindOption(a, u"-o");
  request.crc = !HasFlag(a, u"--no-crc");
  if (const std::u16string* stub = FindOption(a, u"--stub")) request.stub = *stub;
  if (const std::u16string* description = FindOption(a, u"--description")) {
    if (author::SameFile(request.output, *description)) {
      console.Err(u"zelp: the output '" + request.output + u"' is the description '" +
                  *description + u"'; choose another name\n");
      return kExitFailed;
    }
    if (!LoadDescription(*description, request.description, console)) return kExitFailed;
    request.hasDescription = true;
  }
  author::PatchStats stats;
  author::OutputInfo info;
  if (!author::CreatePatchFile(request, stats, info, error)) {
    console.Err(u"zelp: " + error + u"\n");
    return kExitFailed;
  }
  // The format reads a CRC of 0 as "no check"; say so when that comes from
  // the file itself (an empty ORIGINAL, or one in four billion).
  if (request.crc && stats.targetCrc == 0)
    console.Err(u"zelp: note: the CRC-32 of '" + request.original +
                u"' is 0, which patches read as \"no check\": it applies to any file\n");
  std::u16string what = request.stub.empty() ? u"patch" : u"program";
  // With -o -, standard output holds the patch: the report goes beside it.
  auto report = [&](const std::u16string& line) {
    request.output == author::kStdoutName ? console.Err(line) : console.Out(line);
  };
  report(u"zelp: wrote " + what + u" '" + request.output + u"': " + Decimal(info.fileSize) +
         u" bytes, " + Decimal(stats.records) + u" records, " + Decimal(stats.dataBytes) +
         u" data bytes\n");
  return kExitOk;
}

}  // namespace zelp::cli
