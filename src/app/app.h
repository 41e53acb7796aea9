// The process-wide state of one program run, and the platform it runs on.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/settings_record.h"
#include "common/command_line.h"
#include "platform/https_date.h"
#include "platform/platform.h"
#include "platform/window_run_claim.h"

namespace vel {

// Flags between the windows' event handlers and the run: the handlers only
// set them, the run and its waits read them.
struct RunFlags {
    bool UserCancelled = false;
    bool GoPressed = false;
    bool ConfigurePressed = false;
    bool RunStarted = false;
};

class TimeSource;  // timesource/time_source: the protocol an answer came over

// What the time query leaves for the clock decision.
struct TimeQueryState {
    std::string ServerAnswer;            // the text of the latest data arrival, as received
    platform::LocalDateTime AnswerTime;  // the PC clock when that text arrived
    platform::LocalDateTime ServerTime;  // the server's time as local time; zero when not obtained
    // The same two precisely: the PC clock's reading at the arrival, to the
    // nanosecond, and where the server's clock stood then (UTC, estimated).
    platform::Instant answerInstant;
    platform::Instant serverInstant;
    std::string TimeError;                               // why the query failed; empty on success
    std::optional<platform::SocketFailure> timeFailure;  // the socket's failure behind TimeError, if one
    bool WaitingForAnswer = false;

    // How serverInstant was measured: the answer's connection began its
    // handshake at connectInstant (PC clock) and had its reply at
    // connectedInstant, unless handshakeRetried (a packet of it was sent
    // again, or the socket did not say: no round trip lies between the two);
    // serverInstant is off by at most bound, and rests on that many answers
    // (0: not measured).
    platform::Instant connectInstant;
    platform::Instant connectedInstant;
    bool handshakeRetried = false;
    platform::Span bound;
    int answers = 0;
    bool roundTripUnknown = false;  // serverInstant rests on on-time lines whose handshakes were all retried
    // What the answer said beyond its time: the beginning of the second it
    // named (UTC); for an on-time NIST line, how early it was sent (msADV;
    // empty for an answer that names only its second); and how soon the
    // server may be asked again.
    platform::Instant namedInstant;
    std::optional<platform::Span> onTimeAdvance;
    double askAgainAfterSeconds = 4;
    std::string serverAddress;      // the address the answer came from; empty when the socket did not say
    std::string measureNote;        // why no more answers were asked for, when that was not planned
    double lastConnectSeconds = 0;  // monotonic clock: the latest connect to the server began (or NTP request)
    std::string host;               // the host asked: NTPServer's, or the one asked instead
    int ntpStratum = 0;             // an NTP answer's stratum; 0 for any other answer
    bool serverAsked = false;       // a connect to the server began (lastConnectSeconds holds the latest)
    // The source whose answer this is (its protocol, how it refines); null
    // while none answered.
    const TimeSource* source = nullptr;
};

struct LogState {
    std::unique_ptr<platform::OutputFile> file;  // null: the log is not open
    // Another run held the lock past the bound once: this run writes without
    // the lock from then on.
    bool withoutLock = false;
    // A quiet run whose standard error someone may read later (the journal,
    // a file): every line goes there too, without its time stamp where the
    // journal stamps it.
    bool toStandardError = false;
    bool stampedOnStandardError = true;
    // Standard error is the journal: WARNING and ERROR lines go with the
    // priority prefixes it reads ("<4>", "<3>"), so that `journalctl -p
    // warning` shows them.
    bool journalPriorities = false;
};

// Exit status of the process, for a scheduler.
enum class ExitStatus : int {
    Ok = 0,                 // clock found correct, corrected, or measured with "noupdate"; or configuration ended
    NoTime = 1,             // no time was obtained from the server
    ClockNotSet = 2,        // the clock was off and could not be set
    Cancelled = 3,          // the user stopped the run before the clock was checked or set
    NotConnected = 4,       // "only if connected" and no connection
    Fatal = 5,              // the log could not be written, or another failure stopped the program
    KeptByTimeService = 6,  // another time service keeps the clock: compared, not set
    NotAnswering = 7,       // another window run of the folder holds it and did not answer: nothing was done
    NoLogOpened = 8,        // --open-log: there is no log yet, or nothing could open it
    Unconfirmed = 9,        // a step over StepLimit no second source confirmed, or an answer HTTPS showed false
    Usage = 64,             // an option the program does not know: nothing was done
    NotPermitted = 77,      // the machine's settings, asked for by someone who may not change them
};

class App {
public:
    explicit App(platform::Platform platform);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    platform::Platform platform;

    StartOptions options;  // what the command line asks for
    // The machine's run (--machine, once a run is chosen): quiet, and the
    // settings file is the administrator's, read and never written.
    bool machineRun = false;
    Settings settings;
    RunFlags flags;
    bool AlreadyConnected = false;    // a connection was up before the run
    bool connectStepReached = false;  // the run has begun its connection step (it may have dialled)
    TimeQueryState query;
    LogState log;
    ExitStatus exitStatus = ExitStatus::Ok;
    bool runFinished = false;  // RunSync has come to its end

    // What the clock decision did, for the machine's record and its
    // monitoring (run/run_report.h): the PC clock was compared with the
    // server's time; and how far it was moved (positive: forward) when it was set.
    bool clockCompared = false;
    std::optional<platform::Span> clockStep;

    // Why the latest SaveSettings failed ("<file>: <reason>"); empty after a
    // save that worked.
    std::string settingsSaveError;
    // What the latest LoadSettings found wrong with the file, for the log
    // once it is open; empty when nothing.
    std::string settingsWarning;

    // Why no window can be shown in this process (no display could be
    // opened): a run that would show its window goes on without one, as a
    // quiet run does. Empty when windows can show.
    std::string windowsUnavailable;

    // Keeps a second window run of the same folder from opening a second
    // status window; null: window runs are not coordinated.
    platform::WindowRunClaim* windowRuns = nullptr;

    // Asks HTTPS servers for their Date (the step guard's constraints);
    // null: this build cannot, and the guard says so.
    platform::HttpsDate* httpsDate = nullptr;

    // Stops the program with a message (the log cannot be written). The
    // message does not name the program ("cannot open its log file ...");
    // the handler puts the name in front. The program's own handler does not
    // return; tests may throw instead.
    std::function<void(const std::string& message)> fatal;
    [[noreturn]] void Fatal(const std::string& message);

    // Ends the process at once with this exit status, everything on disk
    // already (a stop by signal). Tests may throw instead.
    std::function<void(int status)> endProcess;
    [[noreturn]] void EndProcess(int status);

    // The run that the status window's first activation starts (RunSync):
    // the run's code, which stands above the window, puts it here before the
    // window is shown.
    std::function<void(App& app)> startRun;

    // "<log folder><separator><name>"
    std::string LogFile(const std::string& name);

    // The status window frmVEL once a run has chosen it (status/status_window
    // creates it on first use); null before. Declared last, so it goes
    // first, while everything it uses is still there.
    std::unique_ptr<platform::FormEvents> statusWindow;
    bool HasStatusWindow() const { return statusWindow != nullptr; }
};

}  // namespace vel
