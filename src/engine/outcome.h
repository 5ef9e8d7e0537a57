// What reading, checking and applying a patch can come to: one enum and one
// table (engine/outcome_table.def). The engine returns outcomes; the command
// line, the dialog program and the page look up what to show and how to
// end. Nothing compares report texts.
#pragma once

#include <cstdint>

#include "common/report.h"
#include "engine/header.h"
#include "engine/records.h"

namespace zelp {

enum class Outcome : uint8_t {
#define ZELP_OUTCOME(name, report, exit, written, english, chinese) name,
#include "engine/outcome_table.def"
#undef ZELP_OUTCOME
};

// How a run that ends in the outcome exits.
enum class ExitClass : uint8_t { kExitOk, kExitFailed, kExitNotTheFile };

// The program's own text for the outcome, exactly as users know it; null for
// a remark.
const char16_t* ReportText(Outcome o);
ExitClass ExitClassOf(Outcome o);
// Whether the target may have been changed when the run ended so.
bool MayHaveWritten(Outcome o);

// The outcome of a header fault, in the order the application procedure
// judges the fields (the CRC comparison sits between them); kOk for none.
// `h` holds the fields read before the fault.
Outcome HeaderOutcome(HeaderFault fault, const PatchHeader& h);
// The outcome of a fault in the record stream; kOk for none.
Outcome RecordOutcome(RecordFault fault);

// A remark beside the outcome (a journal found and put back, a run without
// one): the command line prints it; the Windows program shows nothing.
using NoticeSink = void (*)(const char16_t* text, void* context);
void Notice(const char16_t* text);

extern SinkSlot<NoticeSink> g_noticeSlot;

// Routes notices to `sink` while it lives.
class NoticeRoute : public SinkRoute<NoticeSink> {
 public:
  NoticeRoute(NoticeSink sink, void* context) : SinkRoute(g_noticeSlot, sink, context) {}
};

}  // namespace zelp
