#include "run/machine_record.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/app.h"
#include "common/ini_text.h"
#include "common/wait.h"
#include "log/log.h"

namespace vel {

namespace {

constexpr const char* kSection = "LastRun";

std::optional<double> NumberIn(const std::string& text, const char* key)
{
    const std::optional<std::string> value = ini::ReadValue(text, kSection, key);
    if (!value || value->empty())
        return std::nullopt;
    char* end = nullptr;
    const double number = std::strtod(value->c_str(), &end);
    if (end == value->c_str() || *end != '\0' || !std::isfinite(number))
        return std::nullopt;
    return number;
}

std::string Number(double seconds)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

double Now(App& app)
{
    return platform::ToDouble(app.platform.clock.Read().utc);
}

std::string RecordPath(App& app)
{
    const platform::ProgramFolders folders = app.platform.environment.Process().folders;
    return folders.state.empty() ? std::string() : folders.state + folders.separator + kMachineRecordFileName;
}

// "4 minutes" or "35 seconds", rounded down.
std::string Ago(double seconds)
{
    const long whole = static_cast<long>(seconds);
    if (whole >= 120)
        return std::to_string(whole / 60) + " minutes";
    return std::to_string(whole) + (whole == 1 ? " second" : " seconds");
}

}  // namespace

std::string FormatMachineRecord(const MachineRecord& record)
{
    std::string text = std::string("[") + kSection + "]\n";
    if (record.obtained)
        text += "Obtained=" + Number(*record.obtained) + "\n";
    if (record.contacted)
        text += "Contacted=" + Number(*record.contacted) + "\n";
    return text;
}

MachineRecord ParseMachineRecord(const std::string& text)
{
    return {NumberIn(text, "Obtained"), NumberIn(text, "Contacted")};
}

std::optional<double> TooSoonAfter(const MachineRecord& record, double now)
{
    if (!record.obtained)
        return std::nullopt;
    const double since = now - *record.obtained;
    if (since < 0 || since >= kRateLimitSeconds)
        return std::nullopt;
    return since;
}

double PauseBeforeServer(const MachineRecord& record, double now)
{
    if (!record.contacted)
        return 0;
    const double since = now - *record.contacted;
    if (since < 0 || since >= kServerPauseSeconds)
        return 0;
    return kServerPauseSeconds - since;
}

bool BeginMachineRun(App& app)
{
    const std::string path = RecordPath(app);
    if (path.empty())
        return true;
    platform::SystemError error;
    const std::optional<std::string> text = app.platform.environment.ReadFileBytes(path, 4096, error);
    const MachineRecord record = ParseMachineRecord(text.value_or(""));
    const double now = Now(app);
    if (app.options.rateLimited) {
        if (const std::optional<double> since = TooSoonAfter(record, now)) {
            app.platform.environment.WriteStandardError(
                "veltrane: not due: the machine's last run obtained the time " + Ago(*since) +
                " ago (a run started by an event waits 10 minutes after the last)\n");
            return false;
        }
    }
    if (const double pause = PauseBeforeServer(record, now); pause > 0)
        WaitSeconds(app.platform.pump, app.platform.clock, static_cast<float>(pause));
    return true;
}

MachineRecord EndMachineRun(App& app)
{
    const std::string path = RecordPath(app);
    if (path.empty())
        return {};
    platform::Environment& environment = app.platform.environment;
    platform::SystemError error;
    MachineRecord record = ParseMachineRecord(environment.ReadFileBytes(path, 4096, error).value_or(""));
    const double now = Now(app);
    // On the clock as it stands now: moved by this run, the times move with it.
    const double monotonic = app.platform.clock.MonotonicSeconds();
    if (app.clockCompared)
        record.obtained = now - (monotonic - app.query.lastConnectSeconds);
    if (app.query.serverAsked)
        record.contacted = now - (monotonic - app.query.lastConnectSeconds);
    if (!app.clockCompared && !app.query.serverAsked)
        return record;
    if (!environment.ReplaceFileBytes(path, FormatMachineRecord(record), error))
        WriteLog(app, "WARNING: the record of the machine's last run could not be written: " + path + ": " +
                          error.description + " (error " + std::to_string(error.number) + ")");
    return record;
}

}  // namespace vel
