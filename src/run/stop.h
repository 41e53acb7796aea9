// A stop asked for by the system while the program runs: on Linux SIGTERM (a
// scheduler's or the system's stop), SIGINT (Ctrl+C) or SIGHUP (the terminal
// went away). It is the counterpart of the close that the system sends the
// status window at shutdown.
#pragma once

#include <string>

namespace vel {

class App;

// After a stop, a line this run dialled is waited for this long to go down.
inline constexpr double kStopHangUpSeconds = 5.0;

// Handles a stop from the event pump (never from the signal handler): writes
// "WARNING: stopped by signal " and the signal's name to the log of a run,
// raises UserCancelled, closes the status window (which saves the settings),
// hangs up a dial-up line this run may have dialled (waiting at most
// kStopHangUpSeconds for it), and ends the process with exit status 128 + the
// signal's number. A configuration start has no log and saves nothing, as
// when its dialog is closed by its close box.
[[noreturn]] void StopBySignal(App& app, int signalNumber, const std::string& signalName);

}  // namespace vel
