#include <pthread.h>
#include <signal.h>
#include <time.h>

#include "common/signal_hold.h"

namespace zelp {

struct SignalHold::Saved {
  sigset_t mine;  // held here, not blocked before
  sigset_t old;
};

void IgnoreEndRequests() {
  for (int s : kEndSignals) ::signal(s, SIG_IGN);
}

SignalHold::SignalHold() : saved_(new Saved) {
  sigset_t held;
  sigemptyset(&held);
  for (int s : kEndSignals) sigaddset(&held, s);
  pthread_sigmask(SIG_BLOCK, &held, &saved_->old);
  sigemptyset(&saved_->mine);
  for (int s : kEndSignals)
    if (!sigismember(&saved_->old, s)) sigaddset(&saved_->mine, s);
}

SignalHold::~SignalHold() {
  // Take what arrived meanwhile, then let signals through again.
  const struct timespec now = {0, 0};
  sigset_t pending;
  while (sigpending(&pending) == 0) {
    bool any = false;
    for (int s : kEndSignals)
      any = any || (sigismember(&pending, s) && sigismember(&saved_->mine, s));
    if (!any || sigtimedwait(&saved_->mine, nullptr, &now) < 0) break;
  }
  pthread_sigmask(SIG_SETMASK, &saved_->old, nullptr);
}

}  // namespace zelp
