#include "engine/outcome.h"

#include "engine/messages.h"

namespace zelp {

namespace {

struct Row {
  const char16_t* report;
  ExitClass exit;
  bool written;
};

constexpr Row kRows[] = {
#define ZELP_OUTCOME(name, report, exit, written, english, chinese) \
  {report, ExitClass::exit, written},
#include "engine/outcome_table.def"
#undef ZELP_OUTCOME
};

const Row& RowOf(Outcome o) { return kRows[static_cast<size_t>(o)]; }

}  // namespace

const char16_t* ReportText(Outcome o) { return RowOf(o).report; }
ExitClass ExitClassOf(Outcome o) { return RowOf(o).exit; }
bool MayHaveWritten(Outcome o) { return RowOf(o).written; }

Outcome HeaderOutcome(HeaderFault fault, const PatchHeader& h) {
  switch (fault) {
    case HeaderFault::kIdentCut: return Outcome::kIdentShort;
    case HeaderFault::kIdentText: return Outcome::kIdentBad;
    case HeaderFault::kVersion:
      return JudgeVersion(h.major, h.minor) == Version::kOlder ? Outcome::kOldVersion
                                                               : Outcome::kUnknownVersion;
    case HeaderFault::kTargetSizeCut: return Outcome::kTargetSizeField;
    default: break;
  }
  // A size that no file can have is no size.
  if (h.targetSize < 0) return Outcome::kTargetSizeField;
  switch (fault) {
    case HeaderFault::kTargetCrcCut: return Outcome::kCrcFieldCut;
    case HeaderFault::kRecordsCut: return Outcome::kRecordsFieldCut;
    case HeaderFault::kRecordsRange: return Outcome::kRecordsOutside;
    // The description offset is not needed to apply a patch.
    default: return Outcome::kOk;
  }
}

Outcome RecordOutcome(RecordFault fault) {
  switch (fault) {
    case RecordFault::kNone: return Outcome::kOk;
    case RecordFault::kTypeCut: return Outcome::kTypeCut;
    case RecordFault::kDistanceCut: return Outcome::kDistanceCut;
    case RecordFault::kPositionCut: return Outcome::kPositionCut;
    case RecordFault::kBadType: return Outcome::kBadRecordType;
    case RecordFault::kLengthCut: return Outcome::kLengthCut;
    case RecordFault::kDataCut: return Outcome::kDataCut;
    case RecordFault::kUnreachable: return Outcome::kUnreachable;
  }
  return Outcome::kOk;
}

SinkSlot<NoticeSink> g_noticeSlot;

void Notice(const char16_t* text) {
  if (g_noticeSlot.sink) g_noticeSlot.sink(text, g_noticeSlot.context);
}

}  // namespace zelp
