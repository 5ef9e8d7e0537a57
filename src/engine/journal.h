// The rollback journal: before the first byte of a target changes, its old
// size, the old bytes of every range the run will write and who the target
// is are written beside it and made durable. A run that fails afterwards, or
// the next run after a crash, puts them back; a journal that is not for the
// file it is found beside is never applied.
//
// Layout (little-endian): "ZELPJRN2", the size before the run and after it
// (8 bytes each), the CRC-32 of the whole file before the run (4), the
// file's identity (volume 8, index 8), its name (4-byte unit count, UTF-16
// units), then entries of position (8) + length (4) + old bytes, an end entry
// of position 2^64 - 1 and length 0, and the CRC-32 of everything before it
// (4). A "ZELPJRN1" journal, left by an older release, has the smallest and
// the largest size the target may have meanwhile in place of the CRC and the
// identity, and no more than its name to bind it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/language.h"
#include "file/side_file.h"
#include "file/xfile.h"

namespace zelp {

// What the engine says about a journal besides its report, as a notice; its
// words are zelp's (engine/remarks.def).
enum class Remark {
  kRecovery,    // what the recovery did (`detail`: where it was set aside)
  kReadOnly,    // a journal to put back into a target that cannot be written
  kNotRetired,  // neither emptied nor removed after the run
  kNotPutBack,  // the target could not be put back after a failure
  kStays,       // emptied, but not removed
  // The run goes on without a journal, because:
  kNoIdentity,  // the target's identity could not be read
  kNoSpace,     // there is no space for it beside what the patch needs
  kNoRoom,      // there is no space for it (`detail`: its size)
  kNotCreated,  // it could not be created (`detail`: the folder)
  kNotWritten,  // it could not be written
  kNotDurable,  // it could not be made durable
};
// Why a run goes on without a journal: one of the remarks above and its
// detail; `known` false when there is nothing to say (no spot).
struct Unjournalled {
  bool known = false;
  Remark why = Remark::kNoSpace;
  std::u16string detail;
  void Set(Remark remark, std::u16string text = u"") {
    known = true;
    why = remark;
    detail = std::move(text);
  }
};

// Where a target's journal lives: beside the file (FileJournalSpot), or in
// memory for tests. A journal found there is judged by the engine; the spot
// only opens, creates, renames and removes.
class JournalSpot {
 public:
  virtual ~JournalSpot() = default;
  // Who the target is; false when the platform cannot tell (then no journal
  // is written).
  virtual bool Target(FileIdentity& id, std::u16string& name) = 0;

  // The journal an earlier run left, open for reading when it can be trusted.
  virtual Trust OpenFound(CKOVA_xFile*& file) = 0;
  virtual void CloseFound() = 0;
  virtual bool RemoveFound() = 0;
  // Renames it to a name of its own (kept, never applied), given in `where`.
  virtual bool SetAsideFound(std::u16string& where) = 0;
  virtual std::u16string FoundName() = 0;

  // A new journal, created exclusively with room for `size` bytes; null when
  // it cannot be (the reason in `why`).
  virtual CKOVA_xFile* Create(int64_t size, Unjournalled& why) = 0;
  // Under the journal's name and durable once it returns.
  virtual bool Publish() = 0;
  // Removes the journal being made (emptied first); false when what stays
  // could still be applied.
  virtual bool Discard() = 0;
  // After the run: emptied through its open handle and made durable, so that
  // it can never be applied, then removed. False when it could not be
  // emptied; `stays` when it could not be removed.
  virtual bool Retire(bool& stays) = 0;
  virtual std::u16string Name() = 0;  // the journal's name, for messages
  // Bytes free where the journal and the target live; false when unknown.
  virtual bool FreeSpace(uint64_t& bytes) = 0;
};

// The ranges a record stream writes, in bounded memory: close ranges are
// joined as they come, and when there are too many, ranges farther apart are
// joined too (a journal of a few more old bytes, never of fewer).
class RangeSet {
 public:
  static constexpr size_t kMaxRanges = size_t{1} << 20;
  void Add(int64_t at, int64_t end);
  // Sorted, joined where they touch or lie closer than `gap` bytes, cut at
  // `limit`.
  std::vector<ByteRange> Take(int64_t limit);

 private:
  // Joins until at most `most` ranges are left.
  void Compact(size_t most);
  std::vector<ByteRange> ranges_;
  int64_t gap_ = 16;
};

// What a run will change.
struct ChangePlan {
  int64_t oldSize = 0, finalSize = 0;
  uint32_t oldCrc = 0;             // of the whole target before the run
  std::vector<ByteRange> ranges;   // inside the old size, sorted, apart
  std::vector<ByteRange> secured;  // the same in whole blocks, for SecureWrites
};

// One run's journal, from before the first change to the report.
class Journal {
 public:
  Journal(JournalSpot* spot, CKOVA_xFile& target) : spot_(spot), target_(target) {}
  enum class Begun { kJournalled, kWithout, kNoSpace };
  // Secures the space the run needs (the journal, the growth, what writing
  // inside the file needs) and makes the journal durable. kWithout: no
  // journal, the reason in `why` (empty when there is no spot); kNoSpace:
  // the patch does not fit even without one. The target is unchanged.
  Begun Begin(const ChangePlan& plan, Unjournalled& why);
  // After the target is flushed: the journal can no longer undo the run.
  // False when that could not be made sure (the caller rolls back).
  bool Commit(bool& stays);
  // Puts the target back from the journal and retires it; false when the
  // target could not be put back (the journal stays for the next run).
  bool RollBack();
  bool active() const { return active_; }
  bool spotted() const { return spot_ != nullptr; }

 private:
  JournalSpot* spot_;
  CKOVA_xFile& target_;
  CKOVA_xFile* file_ = nullptr;
  bool active_ = false;
};

// A journal read: its head, and where its entries are.
struct JournalEntry {
  int64_t at;
  uint32_t length;
  int64_t bytesAt;  // position of the old bytes in the journal
};
struct JournalContents {
  int version = 0;
  int64_t oldSize = 0, finalSize = 0, lowest = 0, highest = 0;
  uint32_t oldCrc = 0;
  FileIdentity id;
  std::u16string name;
  std::vector<JournalEntry> entries;
  bool empty = false;  // emptied by a run that finished
};
// Reads and checks a whole journal; false when it is damaged.
bool ReadJournal(CKOVA_xFile& file, JournalContents& j);

enum class Recovered {
  kNone,        // no journal
  kRolledBack,  // the target is its old self again; the journal is gone
  kFinished,    // the run had finished; the journal is gone, not applied
  kDamaged,     // unreadable or cut short: set aside
  kForeign,     // not for this file, or this file in no state the run left: set aside
  kUntrusted,   // a link, or someone else's: set aside
  kStuck,       // set aside, but it could not be renamed: left as it is
  kFailed,      // valid, but putting it back failed: it stays for the next run
  kKept,        // put back, but the journal could not be removed
};
struct Recovery {
  Recovered state = Recovered::kNone;
  std::u16string journal, aside;  // its name; where it was set aside
  // A dry run that would put the target back leaves the journal open here
  // (closed by the spot's CloseFound), for a RolledBackView.
  CKOVA_xFile* file = nullptr;
  JournalContents contents;
};
// Puts the target back from the journal at `spot`, if it is that target's.
// With `dryRun` nothing is written, moved or removed: the state says what a
// run would do.
Recovery RecoverFromJournal(JournalSpot& spot, CKOVA_xFile& target, bool dryRun = false);
// What a recovery did, in one sentence ("" for none).
std::u16string RecoveryText(const Recovery& r, Language language = Language::kEnglish);

// What the engine says about a journal besides its report, as a notice
// (Remark and its words: engine/remarks.def).
using RemarkWords = std::u16string (*)(Remark, const std::u16string& journal,
                                       const std::u16string& detail, Recovered state);
extern RemarkWords g_remarkWords;
void Say(Remark what, const std::u16string& journal, const std::u16string& detail = u"",
         Recovered state = Recovered::kNone);
// Makes the remarks notices in the words of `language`; until then they are
// not said.
void SayRemarks(Language language = Language::kEnglish);

// The target as it will be once the journal is put back, read-only: for
// checking it and copying it without writing. Valid while `journal` and
// `target` are open.
class RolledBackView : public ReadOnlyView {
 public:
  RolledBackView(CKOVA_xFile& target, CKOVA_xFile& journal, const JournalContents& j)
      : target_(target), journal_(journal), j_(j) {}
  uint32_t Read(void* buffer, uint32_t count) override;
  void GetSize(int64_t& size) override { size = j_.oldSize; }

 private:
  CKOVA_xFile& target_;
  CKOVA_xFile& journal_;
  const JournalContents& j_;
};

// The journal of the file at `targetPath`, open as `target`: in the folder
// that holds the file itself (links resolved), named after its identity, so
// that every name of the file finds it and no name is too long for it. A
// journal of an older release is looked for beside the name given.
class FileJournalSpot : public JournalSpot {
 public:
  FileJournalSpot(const char16_t* targetPath, CKOVA_File& target);
  ~FileJournalSpot() override;
  bool Target(FileIdentity& id, std::u16string& name) override;
  Trust OpenFound(CKOVA_xFile*& file) override;
  void CloseFound() override;
  bool RemoveFound() override;
  bool SetAsideFound(std::u16string& where) override;
  std::u16string FoundName() override { return found_; }
  CKOVA_xFile* Create(int64_t size, Unjournalled& why) override;
  bool Publish() override;
  bool Discard() override;
  bool Retire(bool& stays) override;
  std::u16string Name() override { return path_; }
  bool FreeSpace(uint64_t& bytes) override;

 private:
  CKOVA_File& target_;
  std::u16string given_, folder_, path_, newPath_, found_;
  FileIdentity id_;
  bool known_ = false;
  struct Impl;
  Impl* impl_;
};

}  // namespace zelp
