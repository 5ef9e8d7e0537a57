#include "author/tool.h"

#include <cstring>
#include <string>
#include <vector>

#include "author/stamp_file.h"
#include "common/text.h"
#include "engine/format.h"
#include "engine/stamp.h"
#include "file/file.h"
#include "file/out_file.h"
#include "file/whole_file.h"

namespace zelp::author {

namespace {

bool OpenInput(const std::u16string& path, CKOVA_File& file, Bilingual& error) {
  if (Open(path.c_str(), file, kModeRead, kShareRead)) return true;
  error = CannotOpen(path);
  return false;
}

// Inputs are never written: an output that is one of them is refused
// (writing it would replace the file being read).
bool OutputIsNoInput(const std::u16string& output, const std::vector<const std::u16string*>& inputs,
                     Bilingual& error) {
  for (const std::u16string* in : inputs) {
    if (in->empty() || output == kStdoutName || !SameFile(output, *in)) continue;
    error = OutputIsInput(output, *in);
    return false;
  }
  return true;
}

bool CopyStubFile(const std::u16string& path, CKOVA_xFile& out, OutputInfo& info,
                  Bilingual& error) {
  CKOVA_File stub;
  StampInfo stamp;
  if (!OpenInput(path, stub, error) ||
      !CopyStub(stub, {Quote(path), Quote(path)}, out, stamp, error))
    return false;
  info.base = stamp.imageSize;
  info.replacedPatch = stamp.hasPatch;
  return true;
}

bool Finish(OutputFile& out, const std::u16string& path, OutputInfo& info, Bilingual& error) {
  out.file().GetSize(info.fileSize);
  info.replacedOutput = out.replaces();
  if (!out.Commit()) {
    error = CannotWrite(path);
    return false;
  }
  return true;
}

}  // namespace

bool CreatePatchFile(const CreateRequest& request, PatchStats& stats, OutputInfo& info,
                     Bilingual& error) {
  info = OutputInfo{};
  CKOVA_File original, modified, modifiedData;
  if (!OpenInput(request.original, original, error) ||
      !OpenInput(request.modified, modified, error))
    return false;
  // A second handle for the records' data; the first one streams the file.
  if (!OpenInput(request.modified, modifiedData, error)) return false;
  if (!OutputIsNoInput(request.output, {&request.original, &request.modified, &request.stub},
                       error))
    return false;
  OutputFile out;
  if (!out.Create(request.output, error)) return false;
  if (!request.stub.empty() && !CopyStubFile(request.stub, out.file(), info, error)) return false;
  PatchOptions options;
  options.crc = request.crc;
  options.hasDescription = request.hasDescription;
  options.description = request.description;
  switch (WritePatch(original, modified, modifiedData, out.file(), options, stats)) {
    case PatchStatus::kOk: break;
    case PatchStatus::kReadOriginal: error = CannotRead(request.original); return false;
    case PatchStatus::kReadModified: error = CannotRead(request.modified); return false;
    case PatchStatus::kWrite: error = CannotWrite(request.output); return false;
  }
  return Finish(out, request.output, info, error);
}

namespace {

bool LoadWhole(const std::u16string& path, WholeFile& file, Bilingual& error) {
  bool tooLarge = false;
  if (file.Load(path, kMaxForeignInput, tooLarge)) return true;
  error = tooLarge ? Fill2(
                         u"{0} has more than 1 GiB; IPS, UPS and BPS patches are made from "
                         u"smaller files (a ZELP patch has no such limit)",
                         u"{0} 超过 1 GiB；IPS、UPS 和 BPS 补丁只能用更小的文件制作（ZELP "
                         u"补丁没有这个限制）",
                         {Quote(path)})
                   : CannotRead(path);
  return false;
}

}  // namespace

bool CreateForeignFile(PatchKind kind, const std::u16string& original,
                       const std::u16string& modified, const std::u16string& output,
                       const std::string& metadata, ForeignStats& stats, OutputInfo& info,
                       Bilingual& error) {
  info = OutputInfo{};
  WholeFile a, b;
  std::vector<uint8_t> patch;
  if (!LoadWhole(original, a, error) || !LoadWhole(modified, b, error)) return false;
  if (!OutputIsNoInput(output, {&original, &modified}, error)) return false;
  if (!EncodeForeign(kind, Bytes(a.data(), a.size()), Bytes(b.data(), b.size()), metadata, patch,
                     stats, error))
    return false;
  for (const auto* in : {&a, &b}) {
    if (!in->Changed()) continue;
    error = Fill2(u"{0} changed while it was being read; no patch was written",
                  u"{0} 在读取时被改动了；没有写出补丁", {Quote(in == &a ? original : modified)});
    return false;
  }
  OutputFile out;
  if (!out.Create(output, error)) return false;
  if (!WriteAll(out.file(), patch.data(), patch.size())) {
    error = CannotWrite(output);
    return false;
  }
  return Finish(out, output, info, error);
}

bool PackFiles(const std::u16string& stub, const std::u16string& patch,
               const std::u16string& output, OutputInfo& info, Bilingual& error) {
  info = OutputInfo{};
  CKOVA_File patchFile;
  if (!OpenInput(patch, patchFile, error)) return false;
  // Only a bare ZELP 3.0 patch is appended: anything else would make a
  // program that cannot start.
  char ident[kIdentSize + 1] = {};
  int64_t patchSize = 0;
  patchFile.GetSize(patchSize);
  int major = 0, minor = 0;
  if (!ReadExact(patchFile, ident, kIdentSize) || patchSize <= kHeaderSize ||
      ParseIdentification(ident, major, minor) < 2 ||
      JudgeVersion(major, minor) != Version::kSupported) {
    error = Fill2(u"{0} is not a ZELP 3.0 patch", u"{0} 不是 ZELP 3.0 补丁", {Quote(patch)});
    return false;
  }
  if (!OutputIsNoInput(output, {&stub, &patch}, error)) return false;
  OutputFile out;
  if (!out.Create(output, error)) return false;
  if (!CopyStubFile(stub, out.file(), info, error)) return false;
  if (!patchFile.Seek(0)) {
    error = CannotRead(patch);
    return false;
  }
  std::vector<uint8_t> buffer(size_t{1} << 20);
  for (int64_t left = patchSize; left > 0;) {
    uint32_t got = patchFile.Read(buffer.data(),
                                  static_cast<uint32_t>(std::min<int64_t>(left, buffer.size())));
    if (got == 0) {
      error = CannotRead(patch);
      return false;
    }
    if (!WriteAll(out.file(), buffer.data(), got)) {
      error = CannotWrite(output);
      return false;
    }
    left -= got;
  }
  return Finish(out, output, info, error);
}

}  // namespace zelp::author
