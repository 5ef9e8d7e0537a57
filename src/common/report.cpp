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

ReportRoute::ReportRoute(ReportSink sink, void* context) : sink_(g_sink), context_(g_context) {
  g_sink = sink;
  g_context = context;
}

ReportRoute::~ReportRoute() {
  g_sink = sink_;
  g_context = context_;
}

}  // namespace zelp
