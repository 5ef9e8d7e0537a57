// Keeps the requests to end a run (Ctrl-C, SIGTERM, SIGHUP; Ctrl-C in a
// Windows console) from cutting the writing pass short: while a hold lives
// they wait, and when it ends they are taken and dropped, as the run ends
// anyway with its one report. SIGKILL and power cuts cannot be held.
#pragma once

#include <memory>
#ifndef _WIN32
#include <csignal>
#endif

namespace zelp {

#ifndef _WIN32
// The requests to end a run, for every part that holds, ignores or catches
// them.
inline constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

// From now on the requests to end a run are dropped: once the target may
// have been written, the run ends by itself with its report.
void IgnoreEndRequests();

class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

}  // namespace zelp
