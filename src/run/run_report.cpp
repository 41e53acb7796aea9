#include "run/run_report.h"

#include <cstdio>

#include "app/app.h"
#include "log/log.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_client.h"

namespace vel {

namespace {

constexpr const char* kMetricsFileName = "veltrane.prom";

std::string Decimal(double value, int digits)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

// A label's value: backslash, double quote and line feed escaped.
std::string LabelValue(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

void Series(std::string& text, const char* name, const char* help, const std::string& samples)
{
    text += std::string("# HELP ") + name + " " + help + "\n";
    text += std::string("# TYPE ") + name + " gauge\n";
    text += samples;
}

std::string Sample(const char* name, const std::string& labels, const std::string& value)
{
    return std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
}

}  // namespace

const char* ResultName(RunResult result)
{
    switch (result) {
        case RunResult::Corrected:
            return "corrected";
        case RunResult::WithinTolerance:
            return "within_tolerance";
        case RunResult::Refused:
            return "refused";
        case RunResult::Failed:
            break;
    }
    return "failed";
}

RunReport MakeRunReport(App& app, std::optional<double> lastObtainedAt)
{
    RunReport report;
    const TimeQueryState& query = app.query;
    report.endedAt = platform::ToDouble(app.platform.clock.Read().utc);
    report.exitStatus = static_cast<int>(app.exitStatus);
    report.server = ServerHost(app.settings.NTPServer);
    report.lastObtainedAt = lastObtainedAt;
    if (app.clockCompared) {
        if (query.answers > 0) {
            report.offsetSeconds = platform::ToDouble(query.answerInstant - query.serverInstant);
            report.boundSeconds = platform::ToDouble(query.bound);
        } else {
            report.offsetSeconds = static_cast<double>(platform::DiffSeconds(query.AnswerTime, query.ServerTime));
        }
    }
    if (app.clockStep) {
        report.result = RunResult::Corrected;
        report.stepSeconds = platform::ToDouble(*app.clockStep);
    } else if (app.exitStatus == ExitStatus::KeptByTimeService) {
        report.result = RunResult::Refused;
    } else if (app.exitStatus == ExitStatus::Ok && app.clockCompared) {
        const std::int64_t difference = ClockDifference(query.AnswerTime, app.settings.PCOffset, query.ServerTime);
        const bool within = (difference < 0 ? -difference : difference) <= app.settings.Tolerance;
        report.result = within ? RunResult::WithinTolerance : RunResult::Refused;  // else a dry run
    }
    return report;
}

std::string PrometheusText(const RunReport& report)
{
    const std::string server = "server=\"" + LabelValue(report.server) + "\"";
    std::string text;
    Series(text, "veltrane_last_run_timestamp_seconds", "When the machine's last Veltrane run ended (Unix time).",
           Sample("veltrane_last_run_timestamp_seconds", "", Decimal(report.endedAt, 3)));
    std::string results;
    for (const RunResult result :
         {RunResult::Corrected, RunResult::WithinTolerance, RunResult::Failed, RunResult::Refused})
        results += Sample("veltrane_last_run_result", std::string("result=\"") + ResultName(result) + "\"," + server,
                          result == report.result ? "1" : "0");
    Series(text, "veltrane_last_run_result", "The result of the machine's last Veltrane run: 1 for its result.",
           results);
    Series(text, "veltrane_last_run_exit_status", "The exit status of the machine's last Veltrane run.",
           Sample("veltrane_last_run_exit_status", "", std::to_string(report.exitStatus)));
    if (report.offsetSeconds)
        Series(text, "veltrane_clock_offset_seconds",
               "How far the PC clock was ahead of the server when the last run compared them (negative: behind).",
               Sample("veltrane_clock_offset_seconds", server, Decimal(*report.offsetSeconds, 6)));
    if (report.boundSeconds)
        Series(text, "veltrane_clock_offset_bound_seconds", "The offset found is right to within this.",
               Sample("veltrane_clock_offset_bound_seconds", server, Decimal(*report.boundSeconds, 6)));
    Series(text, "veltrane_clock_step_seconds", "How far the last run moved the clock (negative: back; 0: not moved).",
           Sample("veltrane_clock_step_seconds", server, Decimal(report.stepSeconds, 6)));
    if (report.lastObtainedAt)
        Series(text, "veltrane_last_obtained_timestamp_seconds",
               "When a machine's Veltrane run last obtained the server's time (Unix time).",
               Sample("veltrane_last_obtained_timestamp_seconds", "", Decimal(*report.lastObtainedAt, 3)));
    return text;
}

platform::SystemEvent EventOf(const RunReport& report)
{
    using Kind = platform::SystemEvent::Kind;
    platform::SystemEvent event;
    switch (report.result) {
        case RunResult::Corrected:
            event.id = kEventCorrected;
            break;
        case RunResult::WithinTolerance:
            event.id = kEventWithinTolerance;
            break;
        case RunResult::Refused:
            event.id = kEventRefused;
            event.kind = Kind::Warning;
            break;
        case RunResult::Failed:
            event.id = kEventFailed;
            event.kind = Kind::Error;
            break;
    }
    const auto seconds = [](const std::optional<double>& value) {
        return value ? Decimal(*value, 6) : std::string("unknown");
    };
    event.fields = {
        std::string("result: ") + ResultName(report.result), "server: " + report.server,
        "offset_seconds: " + seconds(report.offsetSeconds),  "step_seconds: " + Decimal(report.stepSeconds, 6),
        "bound_seconds: " + seconds(report.boundSeconds),    "exit_status: " + std::to_string(report.exitStatus)};
    return event;
}

std::string MetricsFilePath(App& app)
{
    if (!app.settings.MetricsFile.empty())
        return app.settings.MetricsFile;
    const platform::ProgramFolders folders = app.platform.environment.Process().folders;
    if (folders.metrics.empty() || !app.platform.environment.IsFolder(folders.metrics))
        return {};
    return folders.metrics + folders.separator + kMetricsFileName;
}

void PublishRunReport(App& app, std::optional<double> lastObtainedAt)
{
    const RunReport report = MakeRunReport(app, lastObtainedAt);
    platform::Environment& environment = app.platform.environment;
    platform::SystemError error;
    if (const std::string path = MetricsFilePath(app); !path.empty()) {
        if (!environment.ReplaceFileBytes(path, PrometheusText(report), error))
            WriteLog(app, "WARNING: the metrics file could not be written: " + path + ": " + error.description +
                              " (error " + std::to_string(error.number) + ")");
    }
    error = {};
    if (environment.WriteSystemEvent(EventOf(report), error) == platform::SystemEventResult::Failed)
        WriteLog(app, "WARNING: the run's event could not be written to the Application log: " + error.description +
                          " (error " + std::to_string(error.number) + ")");
}

}  // namespace vel
