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

// Where a kind of message goes: a sink and the context it is called with.
template <class Sink>
struct SinkSlot {
  Sink sink = nullptr;
  void* context = nullptr;
};

// Puts a sink into `slot` for as long as it lives, then restores the previous
// sink and its context.
template <class Sink>
class SinkRoute {
 public:
  SinkRoute(SinkSlot<Sink>& slot, Sink sink, void* context) : slot_(slot), saved_(slot) {
    slot = {sink, context};
  }
  ~SinkRoute() { slot_ = saved_; }
  SinkRoute(const SinkRoute&) = delete;
  SinkRoute& operator=(const SinkRoute&) = delete;

 private:
  SinkSlot<Sink>& slot_;
  SinkSlot<Sink> saved_;
};

// Where Report goes; a null sink is the platform default.
extern SinkSlot<ReportSink> g_reportSlot;

// Routes every Report to `sink` (null: the platform default) while it lives.
class ReportRoute : public SinkRoute<ReportSink> {
 public:
  ReportRoute(ReportSink sink, void* context) : SinkRoute(g_reportSlot, sink, context) {}
};

}  // namespace zelp
