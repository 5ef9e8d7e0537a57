#include "common/report.h"

namespace zelp {

namespace {
ReportSink g_sink = nullptr;
void* g_context = nullptr;
}  // namespace

void Report(void* owner, const char16_t* text) {
  if (g_sink)
    g_sink(owner, text, g_context);
  else
    PlatformReport(owner, text);
}

ReportSink SetReportSink(ReportSink sink, void* context) {
  ReportSink old = g_sink;
  g_sink = sink;
  g_context = context;
  return old;
}

}  // namespace zelp
