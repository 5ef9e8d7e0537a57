#include "engine/records.h"

#include <cstdint>

#include "common/report.h"
#include "engine/format.h"
#include "engine/journal.h"
#include "engine/messages.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"

int CPatchStub::ApplyRecords(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner) {
  zelp::StreamReader in(patchFile);
  if (const char16_t* failure = RunRecords(in, &target, nullptr)) return zelp::Fail(owner, failure);
  return 1;
}

const char16_t* CPatchStub::RunRecords(zelp::StreamReader& in, CKOVA_xFile* target, int64_t* extent,
                                       zelp::RangeSet* writes) {
  using namespace zelp;
  int64_t farthest = 0;
  const char16_t* writeFailure = nullptr;
  auto visit = [&](uint64_t position, const uint8_t* data, uint32_t length) {
    if (target) {
      int64_t written = target->WriteAt(static_cast<int64_t>(position), data, length);
      if (written < 0)
        writeFailure = kMsgSeekTarget;
      else if (written != length)
        writeFailure = kMsgWriteFailed;
      return !writeFailure;
    }
    // A record at the very top of the range would end past 2^63 - 1: no
    // file can be that large, so the extent saturates and the resize fails.
    uint64_t end = position + length;  // position < 2^63: no wrap
    if (end > static_cast<uint64_t>(INT64_MAX)) end = INT64_MAX;
    if (length && static_cast<int64_t>(end) > farthest) farthest = static_cast<int64_t>(end);
    if (length && writes) writes->Add(static_cast<int64_t>(position), static_cast<int64_t>(end));
    return true;
  };
  switch (ForEachRecord(in, scratch, visit)) {
    case RecordFault::kNone: break;
    case RecordFault::kTypeCut: return kMsgDamaged5;
    case RecordFault::kDistanceCut: return kMsgDamaged61;
    case RecordFault::kPositionCut: return kMsgDamaged62;
    case RecordFault::kBadType: return kMsgBadRecordType;
    case RecordFault::kLengthCut: return kMsgDamaged7;
    case RecordFault::kDataCut: return kMsgDamaged8;
    // Seek refuses positions of 2^63 and more; the checking pass says so too.
    case RecordFault::kUnreachable: return kMsgSeekTarget;
  }
  if (writeFailure) return writeFailure;
  if (extent) *extent = farthest;
  return nullptr;
}
