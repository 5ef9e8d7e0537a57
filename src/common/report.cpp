#include "common/report.h"

namespace zelp {

SinkSlot<ReportSink> g_reportSlot;

void Report(void* owner, const char16_t* text) {
  if (g_reportSlot.sink)
    g_reportSlot.sink(owner, text, g_reportSlot.context);
  else
    PlatformReport(owner, text);
}

}  // namespace zelp
