// The rollback journal: before the first byte of a target changes, its old
// size and the old bytes of every range the run will overwrite are written
// beside it and made durable; a run that fails afterwards, or the next run
// after a crash, puts them back.
//
// Layout (little-endian): "ZELPJRN1", old size, the smallest and the largest
// size the target may have meanwhile, the size after patching (8 bytes each),
// the target's name (4-byte unit count, UTF-16 units), then entries of
// position (8) + length (4) + old bytes, an end entry of position 2^64 - 1
// and length 0, and the CRC-32 of everything before it (4).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "file/xfile.h"

namespace zelp {

// Where a target's journal lives, and how it is made durable and removed.
class JournalSpot {
 public:
  virtual ~JournalSpot() = default;
  virtual bool Exists() = 0;
  // A new journal is written under a name of its own and only then, whole
  // and flushed, published under the journal's name: a run killed while
  // writing it leaves no journal, only that file, which the next run removes
  // (the target was not touched yet).
  virtual CKOVA_xFile* Create() = 0;
  virtual bool Publish() = 0;  // durable once it returns
  virtual void RemoveUnpublished() = 0;
  virtual CKOVA_xFile* OpenToRead() = 0;
  virtual void Close() = 0;
  virtual bool Remove() = 0;
  // The target's own name, recorded in the journal.
  virtual std::u16string TargetName() = 0;
};

struct JournalPlan {
  int64_t oldSize = 0, lowest = 0, highest = 0, finalSize = 0;
  std::vector<ByteRange> ranges;  // inside the old size, sorted, apart
};

// Writes the journal of `plan`, reading the old bytes from `target`, and
// makes it durable. False on any failure (the spot may hold a partial file).
bool WriteJournal(JournalSpot& spot, CKOVA_xFile& target, const JournalPlan& plan);

enum class JournalState {
  kNone,        // no journal
  kRolledBack,  // the target is its old self again; the journal is gone
  kFinished,    // the run had finished (its last change, a cut, was made); the journal is gone
  kDamaged,     // unreadable, cut short or its checksum fails: left alone
  kForeign,     // made for another file or a target in another state: left alone
  kFailed,      // valid, but putting it back failed: left for the next run
};

// Puts the target back from the journal at `spot`, if there is one.
JournalState RecoverFromJournal(JournalSpot& spot, CKOVA_xFile& target);

}  // namespace zelp
