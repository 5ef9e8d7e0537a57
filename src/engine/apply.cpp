// The application procedure: header checks, CRC check, a checking pass over
// the records, resize, the writing pass, flush.
#include <algorithm>
#include <vector>

#include "common/report.h"
#include "common/signal_hold.h"
#include "engine/format.h"
#include "engine/header.h"
#include "engine/messages.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"
#include "file/file.h"

int CPatchStub::ApplyPatchFiles(const char16_t* ownPath, const char16_t* targetPath, void* owner) {
  using namespace zelp;
  CKOVA_File patchFile, target;
  if (!Open(ownPath, patchFile, kModeRead, kShareRead)) return Fail(owner, kMsgPatchOpen);
  // The patch is open sharing only reading, so opening the same file again
  // for writing fails here on every platform.
  if (!Open(targetPath, target, kModeReadWrite, kShareRead)) return Fail(owner, kMsgTargetOpen);
  return ApplyOpened(patchFile, target, owner);
}

int CPatchStub::ApplyOpened(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner) {
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
    if (!RunRecords(in, nullptr, owner, &extent, &writes)) return 0;
  }

  // From the first change of the target to the report, a request to end the
  // run waits: the writing pass is never cut short by one.
  SignalHold hold;
  if (!ResizeTarget(target, h.targetSize, extent, writes, owner)) return 0;
  // Only what was checked is written: the patch file may have changed since
  // (a lock on it is only advisory on POSIX).
  if (!checked.kept && !patchFile.Seek(recordsAt)) return Fail(owner, kMsgSeekRecords);
  StreamReader in(patchFile, checked);
  if (!RunRecords(in, &target, owner, nullptr)) return 0;
  // Success is only claimed for data that has reached the disk.
  if (!target.Flush()) return Fail(owner, kMsgWriteFailed);
  Report(owner, kMsgSuccess);
  return 1;
}

namespace {

// The ranges below `limit`, sorted and joined where they share a block of
// 4 KiB (space is had in blocks).
std::vector<zelp::ByteRange>& KeptWrites(std::vector<zelp::ByteRange>& writes, int64_t limit) {
  constexpr int64_t kBlock = 4096;
  std::sort(writes.begin(), writes.end(),
            [](const zelp::ByteRange& a, const zelp::ByteRange& b) { return a.at < b.at; });
  size_t n = 0;
  for (const zelp::ByteRange& r : writes) {
    if (r.at >= limit) break;
    int64_t end = r.end < limit ? r.end : limit;
    if (n > 0 && r.at / kBlock <= (writes[n - 1].end - 1) / kBlock) {
      if (end > writes[n - 1].end) writes[n - 1].end = end;
    } else {
      writes[n++] = {r.at, end};
    }
  }
  writes.resize(n);
  return writes;
}

}  // namespace

int CPatchStub::ResizeTarget(CKOVA_xFile& target, int64_t targetSize, int64_t extent,
                             std::vector<zelp::ByteRange>& writes, void* owner) {
  using namespace zelp;
  // Without the old size nothing below can be decided (nor undone).
  int64_t oldSize = -1;
  target.GetSize(oldSize);
  if (oldSize < 0) return Fail(owner, kMsgResize);
  // Writing inside the file can need space too (holes, a file system that
  // copies on write): secure it before anything changes. What lies past the
  // old size, or past a cut, is reserved below.
  if (!target.SecureWrites(KeptWrites(writes, targetSize < oldSize ? targetSize : oldSize)))
    return Fail(owner, kMsgResize);
  int64_t finalSize = extent > targetSize ? extent : targetSize;
  // Take the space first, while nothing else has changed: when the disk is
  // full, put the size back and leave the target as it was.
  if (finalSize > oldSize && !target.Reserve(finalSize)) {
    SetSize(target, oldSize);
    return Fail(owner, kMsgResize);
  }
  if (targetSize >= oldSize) return 1;  // grown to its final size above
  if (!SetSize(target, targetSize)) {
    SetSize(target, oldSize);  // undo the growth above; no byte was cut yet
    return Fail(owner, kMsgResize);
  }
  // Records reach beyond the target size: the bytes cut above come back as
  // zeros, exactly as after a plain truncate-then-write.
  if (extent > targetSize && !target.Reserve(extent)) return Fail(owner, kMsgResize);
  return 1;
}
