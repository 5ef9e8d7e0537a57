// What `zelp create`, `zelp pack` and the patch lookup of `zelp info` and
// `zelp apply` do with files; on failure `error` says why.
#pragma once

#include <cstdint>
#include <string>

#include "author/foreign_writer.h"
#include "author/patch_writer.h"
#include "common/words.h"

namespace zelp::author {

struct CreateRequest {
  std::u16string original, modified, output;
  std::u16string stub;  // empty: write a bare patch
  bool crc = true;
  bool hasDescription = false;
  std::u16string description;  // as DescriptionFromUtf8 made it
};

struct OutputInfo {
  int64_t base = 0;             // where the patch begins in the output
  int64_t fileSize = 0;         // the whole output
  bool replacedPatch = false;   // the stub carried a patch, which was left out
  bool replacedOutput = false;  // an existing file was replaced
};

// A patch that turns `original` into `modified`; with a stub, the
// distributable program in one step.
bool CreatePatchFile(const CreateRequest& request, PatchStats& stats, OutputInfo& info,
                     Bilingual& error);

// The IPS, UPS or BPS patch that turns `original` into `modified` (a BPS
// carrying `metadata`). Both files are read whole into memory, so each may
// have at most kMaxForeignInput bytes.
constexpr int64_t kMaxForeignInput = int64_t{1} << 30;
bool CreateForeignFile(PatchKind kind, const std::u16string& original,
                       const std::u16string& modified, const std::u16string& output,
                       const std::string& metadata, ForeignStats& stats, OutputInfo& info,
                       Bilingual& error);

// The stub's program image (without any patch it carried), stamped, with
// the patch appended.
bool PackFiles(const std::u16string& stub, const std::u16string& patch,
               const std::u16string& output, OutputInfo& info, Bilingual& error);

}  // namespace zelp::author
