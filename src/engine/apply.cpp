// The application procedure: header checks, CRC check, a checking pass over
// the records, resize, the writing pass, flush.
#include <algorithm>
#include <vector>

#include "common/report.h"
#include "common/signal_hold.h"
#include "engine/format.h"
#include "engine/header.h"
#include "engine/journal.h"
#include "engine/messages.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"
#include "file/file.h"

int CPatchStub::ApplyPatchFiles(const char16_t* ownPath, const char16_t* targetPath, void* owner) {
  using namespace zelp;
  CKOVA_File patchFile;
  if (!Open(ownPath, patchFile, kModeRead, kShareRead)) return Fail(owner, kMsgPatchOpen);
  return ApplyToPath(patchFile, targetPath, owner);
}

int CPatchStub::ApplyToPath(CKOVA_xFile& patchFile, const char16_t* targetPath, void* owner) {
  using namespace zelp;
  CKOVA_File target;
  // The patch is open sharing only reading, so opening the same file again
  // for writing fails here on every platform.
  if (!Open(targetPath, target, kModeReadWrite, kShareRead)) return Fail(owner, kMsgTargetOpen);
  // A journal left beside the target by a run that was killed (or lost its
  // power) is put back before anything else happens.
  FileJournalSpot spot(targetPath);
  switch (RecoverFromJournal(spot, target)) {
    case JournalState::kNone: break;
    case JournalState::kRolledBack:
      Notice(
          u"an interrupted run had left a journal beside the target: the target was put back "
          u"as it was before that run");
      break;
    case JournalState::kFinished:
      Notice(u"a finished run had left its journal beside the target; it was removed");
      break;
    case JournalState::kDamaged:
    case JournalState::kForeign:
      Notice(
          u"the journal beside the target (its name plus \".zelp-journal\") is damaged or was "
          u"made for another file; it was left alone and nothing was done. Remove it once "
          u"the target is known to be sound");
      return Fail(owner, kMsgTargetOpen);
    case JournalState::kFailed:
      Notice(
          u"the target could not be put back from the journal beside it; the journal stays for "
          u"the next run");
      return Fail(owner, kMsgTargetOpen);
  }
  return ApplyOpened(patchFile, target, owner, &spot);
}

int CPatchStub::ApplyOpened(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner,
                            zelp::JournalSpot* spot) {
  using namespace zelp;
  patchFile.Seek(static_cast<int64_t>(patchBase));  // a failure shows in the next read
  int64_t holderSize = 0;  // the whole file that holds the patch, not the patch
  patchFile.GetSize(holderSize);
  PatchHeader h;
  HeaderFault fault = ReadHeader(patchFile, holderSize, h);
  // The faults in the order of the fields; the target's CRC is compared as
  // soon as its field is known, before the fields after it are judged.
  switch (fault) {
    case HeaderFault::kIdentCut: return Fail(owner, kMsgIdentShort);
    case HeaderFault::kIdentText: return Fail(owner, kMsgIdentBad);
    case HeaderFault::kVersion:
      return Fail(owner, JudgeVersion(h.major, h.minor) == Version::kOlder ? kMsgOldVersion
                                                                           : kMsgUnknownVersion);
    default: break;
  }
  if (fault == HeaderFault::kTargetSizeCut || h.targetSize < 0) return Fail(owner, kMsgHeader1);
  if (fault == HeaderFault::kTargetCrcCut) return Fail(owner, kMsgHeader2);
  if (h.targetCrc != 0) {
    // A target that cannot be read is no wrong file: it is refused as one
    // that cannot be used, never with the CRC verdict.
    uint32_t crc = 0;
    if (!target.WholeCrc32(crc)) return Fail(owner, kMsgTargetOpen);
    if (crc != h.targetCrc) return Fail(owner, kMsgCrcMismatch);
  }
  if (fault == HeaderFault::kRecordsCut) return Fail(owner, kMsgHeader3);
  if (fault == HeaderFault::kRecordsRange) return Fail(owner, kMsgHeader4);
  // The description offset is not needed here.

  // Check the whole record stream before the target is touched: a damaged
  // patch must never leave a half-patched file behind.
  int64_t recordsAt = static_cast<int64_t>(patchBase + h.recordsOffset);
  if (!patchFile.Seek(recordsAt)) return Fail(owner, kMsgSeekRecords);
  int64_t extent = 0;
  CheckedStream checked;
  std::vector<ByteRange> writes;
  {
    StreamReader in(patchFile, &checked);
    if (const char16_t* failure = RunRecords(in, nullptr, &extent, &writes))
      return Fail(owner, failure);
  }

  // From the first change of the target to the report, a request to end the
  // run waits: the writing pass is never cut short by one.
  SignalHold hold;
  bool journalled = false;
  const char16_t* failure = ChangeTarget(patchFile, recordsAt, checked, target, h.targetSize,
                                         extent, writes, spot, journalled);
  if (journalled) {
    if (!failure) {
      spot->Remove();
    } else if (RecoverFromJournal(*spot, target) != JournalState::kRolledBack) {
      Notice(
          u"the target could not be put back from its journal; the journal stays beside it "
          u"for the next run");
    }
  }
  if (failure) return Fail(owner, failure);
  Report(owner, kMsgSuccess);
  return 1;
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

const char16_t* CPatchStub::ChangeTarget(CKOVA_xFile& patchFile, int64_t recordsAt,
                                         const zelp::CheckedStream& checked, CKOVA_xFile& target,
                                         int64_t targetSize, int64_t extent,
                                         std::vector<zelp::ByteRange>& writes,
                                         zelp::JournalSpot* spot, bool& journalled) {
  using namespace zelp;
  // Without the old size nothing below can be decided (nor undone).
  int64_t oldSize = -1;
  target.GetSize(oldSize);
  if (oldSize < 0) return kMsgResize;
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
  if (!target.SecureWrites(Joined(changed, oldSize, 4096))) return kMsgResize;
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
      Notice(
          u"no journal could be written beside the target (a folder without write access, or "
          u"a full disk): patching without one");
    }
  }

  // Take the space first: when the disk is full, put the size back.
  if (finalSize > oldSize && !target.Reserve(finalSize)) {
    if (!journalled) SetSize(target, oldSize);
    return kMsgResize;
  }
  if (zeros.at < zeros.end) {
    std::vector<uint8_t> nothing(1 << 20, 0);
    for (int64_t at = zeros.at; at < zeros.end;) {
      uint32_t n = static_cast<uint32_t>(zeros.end - at < (1 << 20) ? zeros.end - at : (1 << 20));
      int64_t written = target.WriteAt(at, nothing.data(), n);
      if (written < 0) return kMsgSeekTarget;
      if (written != n) return kMsgWriteFailed;
      at += n;
    }
  }
  // Only what was checked is written: the patch file may have changed since
  // (a lock on it is only advisory on POSIX).
  if (!checked.kept && !patchFile.Seek(recordsAt)) return kMsgSeekRecords;
  StreamReader in(patchFile, checked);
  if (const char16_t* failure = RunRecords(in, &target, nullptr)) return failure;
  // The cut comes last, after everything else has reached the disk.
  if (finalSize < oldSize) {
    if (!target.Flush()) return kMsgWriteFailed;
    if (!SetSize(target, finalSize)) return kMsgResize;
  }
  // Success is only claimed for data that has reached the disk.
  if (!target.Flush()) return kMsgWriteFailed;
  return nullptr;
}
