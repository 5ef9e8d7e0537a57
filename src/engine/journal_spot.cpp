// The journal's place in the file system: the folder of the file itself,
// under a name made of the file's identity.
#include "common/text.h"
#include "engine/journal.h"
#include "file/file.h"

namespace zelp {

namespace {

std::u16string Hex64(uint64_t v) {
  std::u16string hex(16, u'0');
  for (int i = 15; i >= 0; --i, v >>= 4) hex[i] = u"0123456789abcdef"[v & 15];
  return hex;
}

std::u16string BaseName(const std::u16string& path) {
  size_t slash = path.find_last_of(u"/\\");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct FileJournalSpot::Impl {
  CKOVA_File found, made;
  bool published = false;
};

FileJournalSpot::FileJournalSpot(const char16_t* targetPath, CKOVA_File& target)
    : target_(target), given_(targetPath ? targetPath : u""), impl_(new Impl) {
  known_ = IdentityOf(target, id_) && OwnFolderOf(given_.c_str(), target, folder_);
  if (known_) {
    path_ = folder_ + u".zelp-journal-" + Hex64(id_.volume) + u"-" + Hex64(id_.index);
    newPath_ = path_ + u"-new";
  }
}

FileJournalSpot::~FileJournalSpot() { delete impl_; }

bool FileJournalSpot::Target(FileIdentity& id, std::u16string& name) {
  id = id_;
  name = BaseName(given_);
  return known_;
}

Trust FileJournalSpot::OpenFound(CKOVA_xFile*& file) {
  Trust t = Trust::kMissing;
  if (known_) {
    found_ = path_;
    t = OpenTrusted(found_.c_str(), impl_->found, target_);
  }
  if (t == Trust::kMissing) {  // an older release's, beside the name given
    found_ = given_ + u".zelp-journal";
    t = OpenTrusted(found_.c_str(), impl_->found, target_);
  }
  file = t == Trust::kTrusted ? &impl_->found : nullptr;
  return t;
}

void FileJournalSpot::CloseFound() { impl_->found.Close(); }

bool FileJournalSpot::RemoveFound() {
  return RemovePath(found_.c_str()) && SyncFolderOf(found_.c_str());
}

bool FileJournalSpot::SetAsideFound(std::u16string& where) {
  for (int n = 1; n < 1000; ++n) {
    where = found_ + u"-set-aside-" + Decimal(n);
    if (PathExists(where.c_str())) continue;
    return RenamePath(found_.c_str(), where.c_str()) && SyncFolderOf(where.c_str());
  }
  return false;
}

CKOVA_xFile* FileJournalSpot::Create(int64_t size, Unjournalled& why) {
  impl_->published = false;
  // What a run killed while writing its journal left: the target was not
  // touched yet. Removing a name never follows a link.
  RemovePath(newPath_.c_str());
  if (!CreateNew(newPath_.c_str(), impl_->made)) {
    why.Set(Remark::kNotCreated, folder_);
    return nullptr;
  }
  if (!Preallocate(impl_->made, size)) {
    why.Set(Remark::kNoRoom, Decimal(size));
    Discard();
    return nullptr;
  }
  return &impl_->made;
}

bool FileJournalSpot::Publish() {
  impl_->published = RenamePath(newPath_.c_str(), path_.c_str());
  return impl_->published && SyncFolderOf(path_.c_str());
}

bool FileJournalSpot::Discard() {
  // Emptied first: should a name stay, nothing in it can be applied.
  bool emptied = SetSize(impl_->made, 0) && impl_->made.Flush();
  impl_->made.Close();
  const std::u16string& name = impl_->published ? path_ : newPath_;
  bool gone = RemovePath(name.c_str()) && SyncFolderOf(name.c_str());
  return emptied || gone || !impl_->published;
}

bool FileJournalSpot::Retire(bool& stays) {
  // Emptied first, so that nothing in it can be applied should its name
  // stay. Where removing the name is made durable with the folder (POSIX),
  // that is enough; otherwise the emptied file is made durable too.
  bool emptied = SetSize(impl_->made, 0);
  stays = !(RemovePath(path_.c_str()) && SyncFolderOf(path_.c_str()));
#ifdef _WIN32
  const bool removalIsDurable = false;
#else
  const bool removalIsDurable = true;
#endif
  if (stays || !removalIsDurable) emptied = emptied && impl_->made.Flush();
  impl_->made.Close();
  return !stays || emptied;
}

bool FileJournalSpot::FreeSpace(uint64_t& bytes) { return zelp::FreeSpace(folder_.c_str(), bytes); }

}  // namespace zelp
