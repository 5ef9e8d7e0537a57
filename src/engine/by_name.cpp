#include "engine/by_name.h"

#include "common/text.h"
#include "engine/patch_base.h"
#include "engine/patch_stub.h"

using zelp::Recovered;
using zelp::Recovery;
using zelp::Remark;

namespace zelp {

Outcome FindPatchBaseOf(const std::u16string& path, uint64_t& base) {
  CKOVA_File file;
  if (!Open(path.c_str(), file, kModeRead, kShareRead)) return Outcome::kPatchOpen;
  return FindPatchBase(file, base);
}

}  // namespace zelp

int CPatchStub::LoadPatchInfoFrom(const char16_t* path) {
  CKOVA_File file;
  if (!zelp::Open(path, file, zelp::kModeRead, zelp::kShareRead)) return 0;
  return LoadPatchInfoFromFile(file);
}

int CPatchStub::ApplyPatchFiles(const char16_t* ownPath, const char16_t* targetPath, void* owner) {
  using namespace zelp;
  CKOVA_File patchFile;
  if (!Open(ownPath, patchFile, kModeRead, kShareRead)) return Finish(owner, Outcome::kPatchOpen);
  return ApplyToPath(patchFile, targetPath, owner);
}

int CPatchStub::ApplyToPath(CKOVA_xFile& patchFile, const char16_t* targetPath, void* owner) {
  using namespace zelp;
  CKOVA_File target;
  // The patch is open sharing only reading, so opening the same file again
  // for writing fails here on every platform.
  if (!Open(targetPath, target, kModeReadWrite, kShareRead)) {
    // A journal that would be put back, into a file that cannot be written.
    CKOVA_File readOnly;
    if (Open(targetPath, readOnly, kModeRead, kShareReadWrite)) {
      FileJournalSpot spot(targetPath, readOnly);
      Recovery r = RecoverFromJournal(spot, readOnly, true);
      spot.CloseFound();
      if (r.state == Recovered::kRolledBack) Say(Remark::kReadOnly, r.journal);
    }
    return Finish(owner, Outcome::kTargetOpen);
  }
  FileJournalSpot spot(targetPath, target);
  return ApplyRecovering(patchFile, target, owner, spot);
}
