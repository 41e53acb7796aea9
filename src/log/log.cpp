#include "log/log.h"

#include <cstdio>

#include "app/app.h"
#include "common/wait.h"

namespace vel {

namespace {

using platform::LockResult;

// The log is shared by every run in the folder, and runs may overlap (a
// scheduler's start beside a log-on start). They take the file's advisory
// lock: exclusive around the size test, the rotation and the start marker,
// shared around each later line. Another run holds it for a moment only; one
// that holds it longer (stopped in a debugger, say) is waited for up to the
// bound once, and then this run goes on without the lock for the rest of its
// life: appending is still safe, rotating is left to a later run.
constexpr double kLockWaitSeconds = 10.0;
constexpr float kLockPollSeconds = 0.05f;

std::string Describe(const std::string& what, const std::string& path, const platform::SystemError& error)
{
    std::string message = "cannot " + what + " its log file " + path + ": error " + std::to_string(error.number);
    if (!error.description.empty())
        message += " (" + error.description + ")";
    return message + ".";
}

// Waits for the lock through the event pump (windows stay alive meanwhile).
// Busy: the bound ran out, now or earlier in this run.
LockResult LockLog(App& app, platform::OutputFile& file, bool exclusive, platform::SystemError& error)
{
    if (app.log.withoutLock)
        return LockResult::Busy;
    platform::Clock& clock = app.platform.clock;
    const double start = clock.MonotonicSeconds();
    for (;;) {
        const LockResult result = file.TryLock(exclusive, error);
        if (result != LockResult::Busy)
            return result;
        if (clock.MonotonicSeconds() - start >= kLockWaitSeconds) {
            app.log.withoutLock = true;
            return result;
        }
        WaitSeconds(app.platform.pump, app.platform.clock, kLockPollSeconds);
    }
}

// sd-daemon's prefix for the journal's priority of a line: warning (4) and
// error (3); other lines keep the stream's default (info).
std::string JournalPriority(const std::string& text)
{
    if (text.starts_with("ERROR: "))
        return "<3>";
    if (text.starts_with("WARNING: "))
        return "<4>";
    return {};
}

void AppendLine(App& app, platform::OutputFile& file, const std::string& text)
{
    const platform::ClockReading now = app.platform.clock.Read();
    const std::string stamp = FormatLogTimestamp(now.local.time, now.timeSeparator);
    platform::SystemError error;
    if (!file.Write(stamp + " " + text + "\r\n", error))
        app.Fatal(Describe("write", app.LogFile(kLogFileName), error));
    if (app.log.toStandardError)
        app.platform.environment.WriteStandardError((app.log.journalPriorities ? JournalPriority(text) : "") +
                                                    (app.log.stampedOnStandardError ? stamp + " " : "") + text + "\n");
}

}  // namespace

void OpenLog(App& app)
{
    if (app.log.file)
        return;
    platform::Environment& env = app.platform.environment;
    const std::string logPath = app.LogFile(kLogFileName);
    const std::string oldPath = app.LogFile(kOldLogFileName);

    platform::SystemError error;
    std::unique_ptr<platform::OutputFile> file = env.OpenAppend(logPath, error);
    if (!file)
        app.Fatal(Describe("open", logPath, error));
    const LockResult lock = LockLog(app, *file, true, error);
    if (lock == LockResult::Failed)
        app.Fatal(Describe("open", logPath, error));
    if (app.log.file)
        return;  // opened meanwhile, from an event handled during the wait

    // The size is the locked file's own: a rotation by another run has been
    // seen by TryLock, which then took the new file.
    if (lock != LockResult::Busy && file->Size() > kLogRotateBytes) {
        if (!env.MoveFileTo(logPath, oldPath, error))
            app.Fatal(Describe("rotate", logPath, error));
        std::unique_ptr<platform::OutputFile> fresh = env.OpenAppend(logPath, error);
        if (!fresh)
            app.Fatal(Describe("open", logPath, error));
        // The old file stays locked until the marker is in the new one, so
        // that a waiting run's line cannot come first.
        if (LockLog(app, *fresh, true, error) == LockResult::Failed)
            app.Fatal(Describe("open", logPath, error));
        AppendLine(app, *fresh, kLogStartMarker);
        fresh->Unlock();
        file->Unlock();
        app.log.file = std::move(fresh);
        return;
    }
    AppendLine(app, *file, kLogStartMarker);
    file->Unlock();
    app.log.file = std::move(file);
}

void WriteLog(App& app, const std::string& text)
{
    if (!app.log.file) {
        OpenLog(app);  // writes the start marker first
        if (!app.log.file)
            return;
    }
    platform::OutputFile& file = *app.log.file;
    platform::SystemError error;
    if (LockLog(app, file, false, error) == LockResult::Failed)
        app.Fatal(Describe("write", app.LogFile(kLogFileName), error));
    AppendLine(app, file, text);
    file.Unlock();
}

void SayWhereTheLogIs(App& app)
{
    app.platform.environment.WriteStandardError("veltrane: see the log: " + app.LogFile(kLogFileName) + "\n");
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
