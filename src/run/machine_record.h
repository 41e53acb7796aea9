// The machine's runs remember their last one in a small file of the
// machine's (LastRun.ini in the state folder): when it obtained the server's
// time and when it last asked the server. Two rules rest on it, the same on
// every system:
//   - a run started by an event (--rate-limited: a resume, a network
//     connecting) ends at once when the last run obtained the time less than
//     10 minutes before: a laptop that wakes on a flapping network asks once;
//   - no run asks a server within 4 seconds of the last one's question
//     (NIST refuses such clients): it waits first.
// Times are on the PC clock as it stood when that run ended, so a run that
// moved the clock leaves times that read right afterwards.
#pragma once

#include <optional>
#include <string>

namespace vel {

class App;

inline constexpr double kRateLimitSeconds = 600;
inline constexpr double kServerPauseSeconds = 4;
inline constexpr const char* kMachineRecordFileName = "LastRun.ini";

// Seconds since 1970-01-01 UTC, with their fraction.
struct MachineRecord {
    std::optional<double> obtained;   // the last run that obtained the server's time, at that moment
    std::optional<double> contacted;  // the last connect to the server any run began
};

// The record's text and back; a value that is no number reads as missing.
std::string FormatMachineRecord(const MachineRecord& record);
MachineRecord ParseMachineRecord(const std::string& text);

// Seconds since the last run obtained the time, when that is under the limit
// (so this event's run is not due); nullopt when it is due: never obtained,
// long enough ago, or after now (the clock went back: nothing can be told).
std::optional<double> TooSoonAfter(const MachineRecord& record, double now);

// Seconds to wait before asking the server: what is left of the pause after
// the last connect; 0 when it has passed or lies after now.
double PauseBeforeServer(const MachineRecord& record, double now);

// Before a machine's run: false when it is not due (--rate-limited, too
// soon: one line on standard error, nothing else written); otherwise waits
// out the pause before the server and gives true. A run without a state
// folder (a user's) has no record: always true at once.
bool BeginMachineRun(App& app);

// After it: the record brought up to date with this run, written whole, and
// given back. A record that cannot be written is said in the log. Empty
// for a run without a state folder.
MachineRecord EndMachineRun(App& app);

}  // namespace vel
