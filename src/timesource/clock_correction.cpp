#include "timesource/clock_correction.h"

#include <cstdio>

#include "app/app.h"
#include "log/log.h"
#include "status/countdown.h"
#include "timesource/daytime_client.h"
#include "timesource/step_guard.h"
#include "timesource/time_query.h"

namespace vel {

namespace {

using platform::LocalDateTime;

const char* const kExitSuffix = kExitCountdownSuffix;

void AppendPart(std::string& text, std::int64_t count, const char* unit)
{
    if (!text.empty())
        text += ' ';
    text += std::to_string(count);
    text += unit;
    if (count > 1)
        text += 's';
}

// Local time minus UTC at a reading of the clock.
platform::Span OffsetOf(const platform::ClockReading& reading)
{
    const platform::Instant local{platform::ToSerialSeconds(reading.local.time), reading.local.nanoseconds};
    return local - reading.utc;
}

std::string DescribeSetFailure(const platform::ClockSetResult& result)
{
    std::string text = "the system clock could not be set: ";
    text += result.description.empty() ? std::string("the system gave no reason") : result.description;
    text += " (error " + std::to_string(result.errorNumber) + ")";
    if (!result.remedy.empty())
        text += "; " + result.remedy;
    return text;
}

// The clock stays as it was: the whole reason goes into the log; the window
// says so briefly (a reason can be longer than the status box) and gives a
// user who watches it time to read it before the run ends.
void ReportSetFailure(App& app, const platform::ClockSetResult& result)
{
    WriteLog(app, "ERROR: " + DescribeSetFailure(result));
    app.exitStatus = ExitStatus::ClockNotSet;
    ShowCountdown(app, "System clock could not be set! See .LOG file for details", "Program will exit in ",
                  CorrectionCountdown, kExitSuffix, "&Quit");
}

// Compared, not set: the difference and why go into the log, the window
// says so briefly, as for a setting that failed.
void ReportKeptByTimeService(App& app, const std::string& duration, const platform::TimeService& keeper)
{
    WriteLog(app, "system clock off by " + duration);
    WriteLog(app, "WARNING: system clock not corrected - another time service keeps it: " + keeper.name +
                      "; to let Veltrane set the clock, turn that off: " + keeper.turnOff);
    app.exitStatus = ExitStatus::KeptByTimeService;
    ShowCountdown(app, kKeptByTimeServiceText, "Program will exit in ", CorrectionCountdown, kExitSuffix, "&Quit");
}

// The machine's run does not set a clock when it cannot learn whether
// another service keeps it: nobody watches it, and fighting such a service
// every day is worse than leaving the clock to it. A failure, for the admin.
void ReportTimeServiceUnknown(App& app, const std::string& duration, const platform::TimeService& keeper)
{
    WriteLog(app, "system clock off by " + duration);
    WriteLog(app, "WARNING: system clock not corrected - cannot tell whether another time service keeps it: " +
                      keeper.unknown);
    app.exitStatus = ExitStatus::ClockNotSet;
    ShowCountdown(app, "System clock could not be set! See .LOG file for details", "Program will exit in ",
                  CorrectionCountdown, kExitSuffix, "&Quit");
}

}  // namespace

std::int64_t ClockDifference(const LocalDateTime& answerTime, std::int32_t pcOffset, const LocalDateTime& serverTime)
{
    return platform::DiffSeconds(answerTime, serverTime) - pcOffset;
}

std::string FormatLongDuration(std::int64_t s)
{
    std::string text;
    if (s >= 86400) {
        const std::int64_t days = s / 86400;
        AppendPart(text, days, " day");
        s -= days * 86400;
    }
    if (s >= 3600) {
        const std::int64_t hours = s / 3600;
        AppendPart(text, hours, " hour");
        s -= hours * 3600;
    }
    if (s >= 60) {
        const std::int64_t minutes = s / 60;
        AppendPart(text, minutes, " minute");
        s -= minutes * 60;
    }
    if (s > 0)
        AppendPart(text, s, " second");
    return text;
}

std::string FormatCorrectedTime(const LocalDateTime& t, const std::string& timeSeparator)
{
    char date[32];
    std::snprintf(date, sizeof date, "%02d.%02d.%02d %02d", t.month, t.day, ((t.year % 100) + 100) % 100, t.hour);
    char minute[8];
    std::snprintf(minute, sizeof minute, "%02d", t.minute);
    return std::string(date) + timeSeparator + minute;
}

platform::Span PreciseClockDifference(const TimeQueryState& query, std::int32_t pcOffset)
{
    return query.answerInstant - query.serverInstant - platform::Seconds(pcOffset);
}

void CompareAndCorrect(App& app)
{
    platform::Clock& clock = app.platform.clock;
    const TimeQueryState& query = app.query;
    const std::int64_t difference = ClockDifference(query.AnswerTime, app.settings.PCOffset, query.ServerTime);
    const std::int64_t magnitude = difference < 0 ? -difference : difference;
    app.clockCompared = true;

    if (magnitude <= app.settings.Tolerance) {
        // A dry run measures as a setting would; otherwise the first answer
        // says how right the clock is.
        const bool measured = query.answers > 0 && (!app.options.noUpdate || RefineServerTime(app));
        ShowCountdown(app, "System clock is correct! ", "Program will exit in ", CorrectionCountdown, kExitSuffix,
                      "&Quit");
        WriteLog(app, "system clock correct");
        if (measured)
            WriteLog(app, DescribeOffset(query));
        app.exitStatus = ExitStatus::Ok;
        return;
    }

    const std::string duration = FormatLongDuration(magnitude);
    // A clock that another service keeps in step is left to it: two programs
    // setting one clock each to its own server make it jump back and forth.
    if (!app.options.noUpdate) {
        const platform::TimeService keeper = clock.TimeServiceInCharge();
        if (!keeper.name.empty()) {
            ReportKeptByTimeService(app, duration, keeper);
            return;
        }
        if (!keeper.unknown.empty() && app.machineRun) {
            ReportTimeServiceUnknown(app, duration, keeper);
            return;
        }
    }
    ShowCountdown(app, "System clock is off by " + duration, "System clock will be updated in ", CorrectionCountdown,
                  " secs unless you click CANCEL...", "&Cancel");
    WriteLog(app, "system clock off by " + duration);

    if (app.flags.UserCancelled) {
        WriteLog(app, "system clock not corrected - user cancelled");
        app.exitStatus = ExitStatus::Cancelled;
        return;
    }
    // A large step rests on more than this one answer; a dry run checks
    // as a setting would.
    if (!GuardStep(app, difference))
        return;
    if (app.options.noUpdate) {
        // Measured as precisely as a setting would be, and said.
        if (query.answers > 0 && RefineServerTime(app))
            WriteLog(app, DescribeOffset(query));
        app.exitStatus = ExitStatus::Ok;
        return;
    }

    // Whole seconds decided: where the answer names only its second, a few
    // more answers find where the server's second begins.
    if (!RefineServerTime(app)) {
        WriteLog(app, "system clock not corrected - user cancelled");
        app.exitStatus = ExitStatus::Cancelled;
        return;
    }

    // The clock moves by the precise difference. It was measured at the
    // answer's arrival and is applied to the reading now, so the countdown
    // and the further answers in between do not count. The clock is given an
    // instant: local wall times are ambiguous near a change of daylight saving.
    const platform::Span precise = PreciseClockDifference(query, app.settings.PCOffset);
    const platform::ClockReading before = clock.Read();
    const platform::Instant target = before.utc - precise;
    const platform::ClockSetResult result = clock.SetTime(target);
    if (!result.ok) {
        ReportSetFailure(app, result);
        return;
    }

    // The new time in the offset of before the setting; when the setting
    // carried the clock across a change of daylight saving, the offset now in
    // force differs and the time shown moves with it. The instant needs no
    // second setting.
    const platform::Span offsetBefore = OffsetOf(before);
    LocalDateTime newTime = platform::FromSerialSeconds((target + offsetBefore).seconds);
    const platform::Span offsetAfter = OffsetOf(clock.Read());
    if (offsetAfter != offsetBefore)
        newTime = platform::FromSerialSeconds((target + offsetAfter).seconds);

    // The offset found, with its sign, as for a clock left alone: the
    // history's drift rests on it.
    if (!result.setBy.empty())
        WriteLog(app, result.setBy);
    else if (query.answers > 0)
        WriteLog(app, DescribeOffset(query));
    WriteLog(app, "system clock corrected to " + FormatCorrectedTime(newTime, clock.Read().timeSeparator));
    if (!result.hardwareClock.empty())
        WriteLog(app, result.hardwareClock);
    app.clockStep = target - before.utc;
    app.exitStatus = ExitStatus::Ok;
}

}  // namespace vel
