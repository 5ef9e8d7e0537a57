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

namespace {
NoticeSink g_notice = nullptr;
void* g_noticeContext = nullptr;
}  // namespace

void Notice(const char16_t* text) {
  if (g_notice) g_notice(text, g_noticeContext);
}

NoticeSink SetNoticeSink(NoticeSink sink, void* context) {
  NoticeSink old = g_notice;
  g_notice = sink;
  g_noticeContext = context;
  return old;
}

ReportSink SetReportSink(ReportSink sink, void* context) {
  ReportSink old = g_sink;
  g_sink = sink;
  g_context = context;
  return old;
}

}  // namespace zelp
