#include <cstdint>

#include "common/report.h"
#include "engine/format.h"
#include "engine/messages.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"

int CPatchStub::ApplyRecords(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner) {
  zelp::StreamReader in(patchFile);
  return RunRecords(in, &target, owner, nullptr);
}

int CPatchStub::RunRecords(zelp::StreamReader& in, CKOVA_xFile* target, void* owner,
                           int64_t* extent, std::vector<zelp::ByteRange>* writes) {
  using namespace zelp;
  uint64_t position = 0;  // not advanced by the data a record writes
  int64_t farthest = 0;
  for (;;) {
    uint8_t field[8];
    if (in.Read(field, 1) != 1) return Fail(owner, kMsgDamaged5);
    switch (field[0]) {
      case kRecRelative:
        if (in.Read(field, 4) != 4) return Fail(owner, kMsgDamaged61);
        position += Le32(field);  // below 2^63 before, so this cannot wrap
        break;
      case kRecAbsolute:
        if (in.Read(field, 8) != 8) return Fail(owner, kMsgDamaged62);
        position = Le64(field);
        break;
      case kRecEnd:
        if (extent) *extent = farthest;
        return 1;
      default: return Fail(owner, kMsgBadRecordType);
    }
    if (in.Read(field, 2) != 2) return Fail(owner, kMsgDamaged7);
    uint32_t length = Le16(field);
    if (in.Read(scratch, length) != length) return Fail(owner, kMsgDamaged8);
    // Seek refuses positions of 2^63 and more; the checking pass says so too.
    if (position >= kUnreachable) return Fail(owner, kMsgSeekTarget);
    if (!target) {
      // A record at the very top of the range would end past 2^63 - 1: no
      // file can be that large, so the extent saturates and the resize fails.
      uint64_t end = position + length;  // position < 2^63: no wrap
      if (end > static_cast<uint64_t>(INT64_MAX)) end = INT64_MAX;
      if (length && static_cast<int64_t>(end) > farthest) farthest = static_cast<int64_t>(end);
      if (length && writes) {
        // Consecutive records mostly continue or overlap the last range.
        const auto at = static_cast<int64_t>(position), to = static_cast<int64_t>(end);
        if (!writes->empty() && at >= writes->back().at && at <= writes->back().end) {
          if (to > writes->back().end) writes->back().end = to;
        } else {
          writes->push_back({at, to});
        }
      }
      continue;
    }
    int64_t written = target->WriteAt(static_cast<int64_t>(position), scratch, length);
    if (written < 0) return Fail(owner, kMsgSeekTarget);
    if (written != length) return Fail(owner, kMsgWriteFailed);
  }
}
