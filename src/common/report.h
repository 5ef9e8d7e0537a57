// The one place where an outcome reaches the user. The Windows program shows
// a message box owned by `owner`; the command-line tool prints; tests record.
#pragma once

namespace zelp {

// `owner` is an opaque window handle (HWND on Windows), null for none.
using ReportSink = void (*)(void* owner, const char16_t* text, void* context);

// Shows `text` with the caption as title (MB_OK, no icon).
void Report(void* owner, const char16_t* text);

// Routes every later Report to `sink` (null restores the platform default:
// a message box on Windows, UTF-8 on stderr elsewhere). Returns the previous.
ReportSink SetReportSink(ReportSink sink, void* context);

// The platform default, used when no sink is installed.
void PlatformReport(void* owner, const char16_t* text);

// A remark beside the outcome (a journal found and put back, a run without
// one): the command line prints it as a "zelp: " line; the Windows program
// shows nothing. Null restores that default.
using NoticeSink = void (*)(const char16_t* text, void* context);
void Notice(const char16_t* text);
NoticeSink SetNoticeSink(NoticeSink sink, void* context);

// Reports `text` and returns 0: the failure return of every operation.
inline int Fail(void* owner, const char16_t* text) {
  Report(owner, text);
  return 0;
}

}  // namespace zelp
