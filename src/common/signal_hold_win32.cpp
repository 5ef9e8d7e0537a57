#include <windows.h>

#include "common/signal_hold.h"

namespace zelp {

struct SignalHold::Saved {};

// Ctrl-C in a console is ignored while the hold lives.
SignalHold::SignalHold() : saved_(new Saved) { SetConsoleCtrlHandler(nullptr, TRUE); }

SignalHold::~SignalHold() { SetConsoleCtrlHandler(nullptr, FALSE); }

}  // namespace zelp
