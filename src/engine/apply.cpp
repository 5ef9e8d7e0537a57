// The application procedure: header checks, CRC check, a checking pass over
// the records, resize, the writing pass, flush.
#include <algorithm>
#include <vector>

#include "common/report.h"
#include "common/signal_hold.h"
#include "engine/format.h"
#include "engine/header.h"
#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"

using zelp::Recovered;
using zelp::Recovery;

zelp::RemarkWords zelp::g_remarkWords = nullptr;

void zelp::Say(Remark what, const std::u16string& journal, const std::u16string& detail,
               Recovered state) {
  if (g_remarkWords) Notice(g_remarkWords(what, journal, detail, state).c_str());
}

namespace {

// Says what the recovery found; false when the run must not go on.
bool Tell(const zelp::Recovery& r) {
  if (r.state != zelp::Recovered::kNone)
    zelp::Say(zelp::Remark::kRecovery, r.journal, r.aside, r.state);
  return r.state != zelp::Recovered::kFailed && r.state != zelp::Recovered::kKept;
}

}  // namespace

int CPatchStub::ApplyRecovering(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner,
                                zelp::JournalSpot& spot) {
  using namespace zelp;
  // A journal left beside the target by a run that was killed (or lost its
  // power) is dealt with before anything else happens, under the same hold
  // of the requests to end the run as the writing pass.
  Recovery r;
  {
    SignalHold hold;
    r = RecoverFromJournal(spot, target);
  }
  if (!Tell(r)) return Finish(owner, Outcome::kJournalStuck);
  return ApplyOpened(patchFile, target, owner, &spot);
}

int CPatchStub::ApplyOpened(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner,
                            zelp::JournalSpot* spot) {
  using namespace zelp;
  patchFile.Seek(static_cast<int64_t>(patchBase));  // a failure shows in the next read
  int64_t holderSize = 0;  // the whole file that holds the patch, not the patch
  patchFile.GetSize(holderSize);
  PatchHeader h;
  Outcome header = HeaderOutcome(ReadHeader(patchFile, holderSize, h), h);
  // The faults in the order of the fields; the target's CRC is compared as
  // soon as its field is known, before the fields after it are judged.
  if (header != Outcome::kOk && header != Outcome::kRecordsFieldCut &&
      header != Outcome::kRecordsOutside)
    return Finish(owner, header);
  if (h.targetCrc != 0) {
    // A target that cannot be read is no wrong file: it is refused as one
    // that cannot be used, never with the CRC verdict.
    uint32_t crc = 0;
    if (!target.WholeCrc32(crc)) return Finish(owner, Outcome::kTargetUnreadable);
    if (crc != h.targetCrc) return Finish(owner, Outcome::kCrcMismatch);
  }
  if (header != Outcome::kOk) return Finish(owner, header);

  // Check the whole record stream before the target is touched: a damaged
  // patch must never leave a half-patched file behind.
  int64_t recordsAt = static_cast<int64_t>(patchBase + h.recordsOffset);
  if (!patchFile.Seek(recordsAt)) return Finish(owner, Outcome::kSeekRecords);
  int64_t extent = 0;
  CheckedStream checked;
  RangeSet writes;
  {
    StreamReader in(patchFile, &checked);
    Outcome o = RunRecords(in, nullptr, &extent, &writes);
    if (o != Outcome::kOk) return Finish(owner, o);
  }

  // From the first change of the target to the report, a request to end the
  // run waits: the writing pass is never cut short by one.
  SignalHold hold;
  Journal journal(spot, target);
  const Outcome failure = ChangeTarget(patchFile, recordsAt, checked, target, h.targetSize, extent,
                                       writes, journal, h.targetCrc);
  bool stays = false;
  if (failure == Outcome::kOk && !journal.Commit(stays)) {
    // Neither emptied nor removed, the journal could undo a run reported as
    // done: the run is not counted as done.
    Say(Remark::kNotRetired, spot->Name());
    return Finish(owner, Outcome::kWriteFailed);
  }
  if (failure != Outcome::kOk && journal.active() && !journal.RollBack())
    Say(Remark::kNotPutBack, spot->Name());
  if (failure != Outcome::kOk) return Finish(owner, failure);
  if (stays) Say(Remark::kStays, spot->Name());
  Finish(owner, Outcome::kOk);
  return 1;
}

int CPatchStub::Finish(void* owner, zelp::Outcome o) {
  outcome = o;
  zelp::Report(owner, zelp::ReportText(o));
  return 0;
}

namespace {

// The sorted ranges below `limit`, joined where they overlap, touch or share
// a block of `block` bytes.
std::vector<zelp::ByteRange> Joined(std::vector<zelp::ByteRange> ranges, int64_t limit,
                                    int64_t block) {
  size_t n = 0;
  for (const zelp::ByteRange& r : ranges) {
    if (r.at >= limit) break;
    int64_t end = r.end < limit ? r.end : limit;
    if (n > 0 && r.at / block <= (ranges[n - 1].end - 1) / block + (block == 1 ? 1 : 0)) {
      if (end > ranges[n - 1].end) ranges[n - 1].end = end;
    } else {
      ranges[n++] = {r.at, end};
    }
  }
  ranges.resize(n);
  return ranges;
}

}  // namespace

zelp::Outcome CPatchStub::ChangeTarget(CKOVA_xFile& patchFile, int64_t recordsAt,
                                       const zelp::CheckedStream& checked, CKOVA_xFile& target,
                                       int64_t targetSize, int64_t extent, zelp::RangeSet& writes,
                                       zelp::Journal& journal, uint32_t knownCrc) {
  using namespace zelp;
  // Without the old size nothing below can be decided (nor undone).
  int64_t oldSize = -1;
  target.GetSize(oldSize);
  if (oldSize < 0) return Outcome::kResize;
  const int64_t finalSize = extent > targetSize ? extent : targetSize;
  // A patch that cuts the target and has records past the cut gives the cut
  // bytes back as zeros: they are zeroed in place instead, so that the only
  // cut left (to the final size) is the last change.
  const ByteRange zeros = {targetSize, oldSize < extent ? oldSize : extent};
  if (zeros.at < zeros.end) writes.Add(zeros.at, zeros.end);
  ChangePlan plan;
  plan.oldSize = oldSize;
  plan.finalSize = finalSize;
  plan.ranges = writes.Take(oldSize);
  // Writing inside the file can need space too (holes, a file system that
  // copies on write): it is secured with the journal's and the growth's.
  // The growth goes with them: where the file system copies on write, the
  // free space must hold both.
  plan.secured = Joined(plan.ranges, oldSize, 4096);
  if (finalSize > oldSize) plan.secured.push_back({oldSize, finalSize});
  // The journal binds itself to the file as it was: the CRC the header
  // checked, or the file's own.
  plan.oldCrc = knownCrc;
  if (!knownCrc && journal.spotted() && !target.WholeCrc32(plan.oldCrc))
    return Outcome::kTargetUnreadable;
  Unjournalled why;
  switch (journal.Begin(plan, why)) {
    case Journal::Begun::kNoSpace: return Outcome::kResize;
    case Journal::Begun::kWithout:
      if (why.known) Say(why.why, u"", why.detail);
      break;
    case Journal::Begun::kJournalled: break;
  }

  // Take the space first: when the disk is full, put the size back.
  if (finalSize > oldSize && !target.Reserve(finalSize)) {
    if (!journal.active()) SetSize(target, oldSize);
    return Outcome::kResize;
  }
  if (zeros.at < zeros.end) {
    // No more zeros than needed: a run's fixed cost is what fuzzing pays.
    const uint32_t most = static_cast<uint32_t>(std::min<int64_t>(zeros.end - zeros.at, 1 << 20));
    std::vector<uint8_t> nothing(most, 0);
    for (int64_t at = zeros.at; at < zeros.end;) {
      uint32_t n = static_cast<uint32_t>(std::min<int64_t>(zeros.end - at, most));
      int64_t written = target.WriteAt(at, nothing.data(), n);
      if (written < 0) return Outcome::kSeekTarget;
      if (written != n) return Outcome::kWriteFailed;
      at += n;
    }
  }
  // Only what was checked is written: the patch file may have changed since
  // (a lock on it is only advisory on POSIX).
  if (!checked.kept && !patchFile.Seek(recordsAt)) return Outcome::kRereadRecords;
  StreamReader in(patchFile, checked);
  if (Outcome o = RunRecords(in, &target, nullptr); o != Outcome::kOk) return o;
  // The cut comes last, after everything else has reached the disk.
  if (finalSize < oldSize) {
    if (!target.Flush()) return Outcome::kWriteFailed;
    if (!SetSize(target, finalSize)) return Outcome::kResize;
  }
  // Success is only claimed for data that has reached the disk.
  if (!target.Flush()) return Outcome::kWriteFailed;
  return Outcome::kOk;
}
