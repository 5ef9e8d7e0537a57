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
  std::vector<ByteRange> writes;
  {
    StreamReader in(patchFile, &checked);
    Outcome o = RunRecords(in, nullptr, &extent, &writes);
    if (o != Outcome::kOk) return Finish(owner, o);
  }

  // From the first change of the target to the report, a request to end the
  // run waits: the writing pass is never cut short by one.
  SignalHold hold;
  bool journalled = false;
  const Outcome o = ChangeTarget(patchFile, recordsAt, checked, target, h.targetSize, extent,
                                 writes, spot, journalled);
  if (journalled) {
    if (o == Outcome::kOk)
      spot->Remove();
    else if (RecoverFromJournal(*spot, target) != JournalState::kRolledBack)
      Notice(Outcome::kJournalKept);
  }
  Finish(owner, o);
  return o == Outcome::kOk;
}

int CPatchStub::Finish(void* owner, zelp::Outcome o) {
  outcome = o;
  zelp::Report(owner, zelp::ReportText(o));
  return 0;
}

namespace {

// The ranges below `limit`, sorted and joined where they overlap, touch or
// share a block of `block` bytes.
std::vector<zelp::ByteRange> Joined(std::vector<zelp::ByteRange> ranges, int64_t limit,
                                    int64_t block) {
  std::sort(ranges.begin(), ranges.end(),
            [](const zelp::ByteRange& a, const zelp::ByteRange& b) { return a.at < b.at; });
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
                                       int64_t targetSize, int64_t extent,
                                       std::vector<zelp::ByteRange>& writes,
                                       zelp::JournalSpot* spot, bool& journalled) {
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
  if (zeros.at < zeros.end) writes.push_back(zeros);
  const std::vector<ByteRange> changed = Joined(writes, oldSize, 1);

  // Writing inside the file can need space too (holes, a file system that
  // copies on write): secure it before anything changes. What lies past the
  // old size is reserved below.
  if (!target.SecureWrites(Joined(changed, oldSize, 4096))) return Outcome::kResize;
  if (spot) {
    JournalPlan plan;
    plan.oldSize = oldSize;
    plan.lowest = oldSize < finalSize ? oldSize : finalSize;
    plan.highest = oldSize > finalSize ? oldSize : finalSize;
    plan.finalSize = finalSize;
    plan.ranges = changed;
    journalled = WriteJournal(*spot, target, plan);
    if (!journalled) {
      spot->RemoveUnpublished();
      Notice(Outcome::kNoJournal);
    }
  }

  // Take the space first: when the disk is full, put the size back.
  if (finalSize > oldSize && !target.Reserve(finalSize)) {
    if (!journalled) SetSize(target, oldSize);
    return Outcome::kResize;
  }
  if (zeros.at < zeros.end) {
    std::vector<uint8_t> nothing(1 << 20, 0);
    for (int64_t at = zeros.at; at < zeros.end;) {
      uint32_t n = static_cast<uint32_t>(zeros.end - at < (1 << 20) ? zeros.end - at : (1 << 20));
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
