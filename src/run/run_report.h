// What a machine's run tells those who watch many machines: a text file in
// Prometheus' format for node_exporter's textfile collector (written whole,
// so a scrape never sees half of it), and on Windows an event in the
// Application log. The same fields in both.
#pragma once

#include <optional>
#include <string>

#include "platform/environment.h"

namespace vel {

class App;

enum class RunResult {
    Corrected,        // the clock was off and was set
    WithinTolerance,  // compared and found correct
    Failed,           // no time, the clock could not be set, or the run stopped early
    Refused,          // off, but left alone: another time service keeps it, or a dry run
};

struct RunReport {
    double endedAt = 0;  // seconds since 1970-01-01 UTC, on the clock as it stands at the end
    RunResult result = RunResult::Failed;
    int exitStatus = 0;
    std::string server;                    // the host asked
    std::optional<double> offsetSeconds;   // how far the PC clock was ahead of the server (negative: behind)
    std::optional<double> boundSeconds;    // the offset is right to within this
    double stepSeconds = 0;                // how far the run moved the clock (negative: back); 0: not moved
    std::optional<double> lastObtainedAt;  // when a machine's run last obtained the time (this one or before)
};

// The report of the run that has just ended in `app`.
RunReport MakeRunReport(App& app, std::optional<double> lastObtainedAt);

// "corrected", "within_tolerance", "failed", "refused".
const char* ResultName(RunResult result);

// The file node_exporter reads: `veltrane_` series with their HELP and TYPE
// lines, the server as a label (escaped as the format wants).
std::string PrometheusText(const RunReport& report);

// The event IDs, one per result.
inline constexpr int kEventCorrected = 1;
inline constexpr int kEventWithinTolerance = 2;
inline constexpr int kEventFailed = 3;
inline constexpr int kEventRefused = 4;

// The Application log's entry: its ID and kind by the result; its strings
// the same fields as the file's, each "name: value".
platform::SystemEvent EventOf(const RunReport& report);

// Where the machine's metrics go: the settings' MetricsFile, else
// veltrane.prom in the system's textfile folder where that folder exists;
// empty: nowhere.
std::string MetricsFilePath(App& app);

// After a machine's run: the metrics file written whole, the event written;
// what fails is said in the log as a WARNING.
void PublishRunReport(App& app, std::optional<double> lastObtainedAt);

}  // namespace vel
