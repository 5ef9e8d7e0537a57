// The one place where an outcome reaches the user. The Windows program shows
// a message box owned by `owner`; the command-line tool prints; tests record.
#pragma once

namespace zelp {

// `owner` is an opaque window handle (HWND on Windows), null for none.
using ReportSink = void (*)(void* owner, const char16_t* text, void* context);

// Shows `text` with the caption as title (MB_OK, no icon).
void Report(void* owner, const char16_t* text);

// The platform default, used when no sink is installed: a message box on
// Windows, UTF-8 on stderr elsewhere.
void PlatformReport(void* owner, const char16_t* text);

// Routes every Report to `sink` (null: the platform default) for as long as
// it lives, then restores the previous sink and its context.
class ReportRoute {
 public:
  ReportRoute(ReportSink sink, void* context);
  ~ReportRoute();
  ReportRoute(const ReportRoute&) = delete;
  ReportRoute& operator=(const ReportRoute&) = delete;

 private:
  ReportSink sink_;
  void* context_;
};

}  // namespace zelp
