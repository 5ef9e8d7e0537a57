#include <windows.h>

#include "common/signal_hold.h"

namespace zelp {

struct SignalHold::Saved {};

// Ctrl-C in a console is ignored while the hold lives.
SignalHold::SignalHold() : saved_(new Saved) { SetConsoleCtrlHandler(nullptr, TRUE); }

SignalHold::~SignalHold() { SetConsoleCtrlHandler(nullptr, FALSE); }

// The report is printed while the hold lives; what follows it is only the
// summary lines, which Ctrl-C may cut.
void IgnoreEndRequests() {}

}  // namespace zelp
