#include "engine/by_name.h"

#include "common/text.h"
#include "engine/patch_base.h"
#include "engine/patch_stub.h"

namespace zelp {

FileJournalSpot::FileJournalSpot(const char16_t* targetPath)
    : target_(targetPath ? targetPath : u""),
      path_(target_ + u".zelp-journal"),
      newPath_(path_ + u"-new") {}

bool FileJournalSpot::Exists() { return PathExists(path_.c_str()); }

CKOVA_xFile* FileJournalSpot::Create() {
  return Open(newPath_.c_str(), file_, kModeCreate, 0) ? &file_ : nullptr;
}

bool FileJournalSpot::Publish() {
  return RenamePath(newPath_.c_str(), path_.c_str()) && SyncFolderOf(path_.c_str());
}

void FileJournalSpot::RemoveUnpublished() {
  if (PathExists(newPath_.c_str())) RemovePath(newPath_.c_str());
}

CKOVA_xFile* FileJournalSpot::OpenToRead() {
  return Open(path_.c_str(), file_, kModeRead, kShareRead) ? &file_ : nullptr;
}

void FileJournalSpot::Close() { file_.Close(); }

bool FileJournalSpot::Remove() { return RemovePath(path_.c_str()) && SyncFolderOf(path_.c_str()); }

std::u16string FileJournalSpot::TargetName() { return NameOf(target_); }

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
  CKOVA_File patchFile, target;
  if (!Open(ownPath, patchFile, kModeRead, kShareRead)) return Finish(owner, Outcome::kPatchOpen);
  // The patch is open sharing only reading, so opening the same file again
  // for writing fails here on every platform.
  if (!Open(targetPath, target, kModeReadWrite, kShareRead))
    return Finish(owner, Outcome::kTargetOpen);
  // A journal left beside the target by a run that was killed (or lost its
  // power) is put back before anything else happens.
  FileJournalSpot spot(targetPath);
  switch (RecoverFromJournal(spot, target)) {
    case JournalState::kNone: break;
    case JournalState::kRolledBack: Notice(Outcome::kJournalRolledBack); break;
    case JournalState::kFinished: Notice(Outcome::kJournalFinished); break;
    case JournalState::kDamaged:
    case JournalState::kForeign: return Finish(owner, Outcome::kJournalForeign);
    case JournalState::kFailed: return Finish(owner, Outcome::kJournalStuck);
  }
  return ApplyOpened(patchFile, target, owner, &spot);
}
