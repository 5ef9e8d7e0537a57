#include "engine/records.h"

#include <cstdint>

#include "engine/format.h"
#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/patch_stub.h"
#include "engine/stream_reader.h"

int CPatchStub::ApplyRecords(CKOVA_xFile& patchFile, CKOVA_xFile& target, void* owner) {
  zelp::StreamReader in(patchFile);
  const zelp::Outcome o = RunRecords(in, &target, nullptr);
  return o == zelp::Outcome::kOk ? 1 : Finish(owner, o);
}

zelp::Outcome CPatchStub::RunRecords(zelp::StreamReader& in, CKOVA_xFile* target, int64_t* extent,
                                     zelp::RangeSet* writes) {
  using namespace zelp;
  int64_t farthest = 0;
  Outcome writeFailure = Outcome::kOk;
  auto visit = [&](uint64_t position, const uint8_t* data, uint32_t length) {
    if (target) {
      int64_t written = target->WriteAt(static_cast<int64_t>(position), data, length);
      if (written < 0)
        writeFailure = Outcome::kSeekTarget;
      else if (written != length)
        writeFailure = Outcome::kWriteFailed;
      return writeFailure == Outcome::kOk;
    }
    // A record at the very top of the range would end past 2^63 - 1: no
    // file can be that large, so the extent saturates and the resize fails.
    uint64_t end = position + length;  // position < 2^63: no wrap
    if (end > static_cast<uint64_t>(INT64_MAX)) end = INT64_MAX;
    if (length && static_cast<int64_t>(end) > farthest) farthest = static_cast<int64_t>(end);
    if (length && writes) writes->Add(static_cast<int64_t>(position), static_cast<int64_t>(end));
    return true;
  };
  Outcome fault = RecordOutcome(ForEachRecord(in, scratch, visit));
  // The writing pass reads what the checking pass accepted, compared piece
  // by piece: a piece that differs means the patch file changed in between.
  if (fault != Outcome::kOk) return in.changed() ? Outcome::kPatchChanged : fault;
  if (writeFailure != Outcome::kOk) return writeFailure;
  if (extent) *extent = farthest;
  return Outcome::kOk;
}
