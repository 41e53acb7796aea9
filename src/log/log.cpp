#include "log/log.h"

#include <cstdio>

#include "common/app.h"

namespace vel {

namespace {

std::string Describe(const std::string& what, const std::string& path, const platform::SystemError& error)
{
    std::string message = "Veltrane cannot " + what + " its log file " + path + ": error " +
                          std::to_string(error.number);
    if (!error.description.empty())
        message += " (" + error.description + ")";
    return message + ".";
}

}  // namespace

void OpenLog(App& app)
{
    if (app.log.file)
        return;
    platform::Environment& env = app.platform.environment;
    const std::string logPath = app.ProgramFile(kLogFileName);
    const std::string oldPath = app.ProgramFile(kOldLogFileName);

    platform::SystemError error;
    const auto size = env.FileSize(logPath);
    if (size && *size > kLogRotateBytes) {
        if (!env.CopyFileTo(logPath, oldPath, error))
            app.Fatal(Describe("rotate", logPath, error));
        app.log.file = env.OpenRewrite(logPath, error);
    } else {
        app.log.file = env.OpenAppend(logPath, error);
    }
    if (!app.log.file)
        app.Fatal(Describe("open", logPath, error));
    WriteLog(app, kLogStartMarker);
}

void WriteLog(App& app, const std::string& text)
{
    if (!app.log.file) {
        OpenLog(app);  // writes the start marker first
        if (!app.log.file)
            return;
    }
    const std::string line = FormatLogTimestamp(app.platform.clock.Now().time, app.platform.clock.TimeSeparator()) +
                             " " + text + "\r\n";
    platform::SystemError error;
    if (!app.log.file->Write(line, error))
        app.Fatal(Describe("write", app.ProgramFile(kLogFileName), error));
}

std::string FormatLogTimestamp(const platform::LocalDateTime& t, const std::string& timeSeparator)
{
    char date[32];
    std::snprintf(date, sizeof date, "%02d.%02d.%04d %02d", t.month, t.day, t.year, t.hour);
    char minute[8];
    std::snprintf(minute, sizeof minute, "%02d", t.minute);
    return std::string(date) + timeSeparator + minute;
}

}  // namespace vel
