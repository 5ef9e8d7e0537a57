// The engine's edge: everything that opens files by name, shared by the
// command line and the dialog program. The core works on open files only;
// the browser build leaves this out.
#pragma once

#include <cstdint>
#include <string>

#include "engine/journal.h"
#include "engine/outcome.h"
#include "file/file.h"

namespace zelp {

// The journal beside the file at `targetPath`: the same name plus
// ".zelp-journal" (while being written, ".zelp-journal-new").
class FileJournalSpot : public JournalSpot {
 public:
  explicit FileJournalSpot(const char16_t* targetPath);
  bool Exists() override;
  CKOVA_xFile* Create() override;
  bool Publish() override;
  void RemoveUnpublished() override;
  CKOVA_xFile* OpenToRead() override;
  void Close() override;
  bool Remove() override;
  std::u16string TargetName() override;

 private:
  std::u16string target_, path_, newPath_;
  CKOVA_File file_;
};

// Where the patch in the file at `path` begins (FindPatchBase); kPatchOpen
// when it cannot be opened.
Outcome FindPatchBaseOf(const std::u16string& path, uint64_t& base);

}  // namespace zelp
