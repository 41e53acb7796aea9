// Stop requests from the system on Linux: SIGTERM (a scheduler's or the
// system's stop), SIGINT (Ctrl+C) and SIGHUP (the terminal went away).
//
// The signal handler does nothing but write the signal's number to a pipe.
// The event loop reads the pipe (a QSocketNotifier) and hands the first stop
// to the program, which does its work there. From that moment the three
// signals have their default action again: a second one ends the program at
// once. A signal that was ignored when the program started (nohup, a
// background job of a script) stays ignored.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace vel::platform {

class StopSignalWatcher {
public:
    using Handler = std::function<void(int number, const std::string& name)>;

    // Installs the handlers; needs a QCoreApplication. One watcher at a time.
    explicit StopSignalWatcher(Handler onStop);
    ~StopSignalWatcher();  // the default actions again
    StopSignalWatcher(const StopSignalWatcher&) = delete;
    StopSignalWatcher& operator=(const StopSignalWatcher&) = delete;

private:
    void ReadPipe();

    Handler onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// While one exists, SIGTERM, SIGINT and SIGHUP wait: a write that must be
// whole (the settings file, a move of the log) is finished first. A signal
// that came meanwhile takes effect when the last guard goes, as it would
// have at its arrival (through the watcher, or the default action).
class DeferStopSignals {
public:
    DeferStopSignals();
    ~DeferStopSignals();
    DeferStopSignals(const DeferStopSignals&) = delete;
    DeferStopSignals& operator=(const DeferStopSignals&) = delete;
};

// "SIGTERM", "SIGINT", "SIGHUP"; other numbers as "signal N".
std::string SignalName(int number);

}  // namespace vel::platform
