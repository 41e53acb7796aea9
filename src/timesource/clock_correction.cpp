#include "timesource/clock_correction.h"

#include <cstdio>

#include "common/app.h"
#include "log/log.h"
#include "run/countdown.h"
#include "run/status_window.h"
#include "timesource/time_zone.h"

namespace vel {

namespace {

using platform::LocalDateTime;
using platform::LocalTimestamp;

const char* const kExitSuffix = " secs.  To exit immediately, click QUIT.";

void AppendPart(std::string& text, std::int64_t count, const char* unit)
{
    if (!text.empty())
        text += ' ';
    text += std::to_string(count);
    text += unit;
    if (count > 1)
        text += 's';
}

// The time the clock is to show: the reading now, fraction included, moved by
// whole seconds.
LocalTimestamp Moved(const LocalTimestamp& now, std::int64_t seconds)
{
    LocalTimestamp t = now;
    t.time = platform::AddSeconds(now.time, seconds);
    return t;
}

std::string DescribeSetFailure(const platform::ClockSetResult& result)
{
    std::string text = "the system clock could not be set: ";
    text += result.description.empty() ? std::string("the system gave no reason") : result.description;
    text += " (error " + std::to_string(result.errorNumber) + ")";
    return text;
}

// The clock stays as it was: say so in the log and in the window, and give a
// user who watches the window time to read it before the run ends.
void ReportSetFailure(App& app, const platform::ClockSetResult& result)
{
    const std::string reason = DescribeSetFailure(result);
    WriteLog(app, "ERROR: " + reason);
    app.exitStatus = ExitStatus::ClockNotSet;
    ShowCountdown(app, "System clock could not be set! See .LOG file for details",
                  "ERROR: " + reason + ".  Program will exit in ", CorrectionCountdown, kExitSuffix, "&Quit");
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

std::string FormatDuration(std::int32_t seconds)
{
    return FormatLongDuration(seconds);
}

std::string FormatCorrectedTime(const LocalDateTime& t, const std::string& timeSeparator)
{
    char date[32];
    std::snprintf(date, sizeof date, "%02d.%02d.%02d %02d", t.month, t.day, ((t.year % 100) + 100) % 100, t.hour);
    char minute[8];
    std::snprintf(minute, sizeof minute, "%02d", t.minute);
    return std::string(date) + timeSeparator + minute;
}

void CompareAndCorrect(App& app, std::int16_t offsetBeforeQuery)
{
    platform::Clock& clock = app.platform.clock;
    const TimeQueryState& query = app.query;
    const std::int64_t difference = ClockDifference(query.AnswerTime, app.settings.PCOffset, query.ServerTime);
    const std::int64_t magnitude = difference < 0 ? -difference : difference;

    if (magnitude <= app.settings.Tolerance) {
        ShowCountdown(app, "System clock is correct! ", "Program will exit in ", CorrectionCountdown, kExitSuffix,
                      "&Quit");
        WriteLog(app, "system clock correct");
        app.exitStatus = ExitStatus::Ok;
        return;
    }

    const std::string duration = FormatLongDuration(magnitude);
    ShowCountdown(app, "System clock is off by " + duration, "System clock will be updated in ", CorrectionCountdown,
                  " secs unless you click CANCEL...", "&Cancel");
    WriteLog(app, "system clock off by " + duration);

    if (app.flags.UserCancelled) {
        WriteLog(app, "system clock not corrected - user cancelled");
        app.exitStatus = ExitStatus::Cancelled;
        return;
    }
    if (app.CommandLineHas("noupdate")) {
        app.exitStatus = ExitStatus::Ok;
        return;
    }

    // The difference was measured at the answer's arrival; it is applied to
    // the reading now, so the countdown in between does not count. Date and
    // time go in one setting: two could straddle midnight.
    LocalTimestamp newTime = Moved(clock.Now(), -difference);
    platform::ClockSetResult result = clock.SetLocalDateTime(newTime);
    if (!result.ok) {
        ReportSetFailure(app, result);
        return;
    }

    // The server's time was made local with the offset of before the setting;
    // if the setting crossed a change of daylight saving, move by the change.
    const std::int16_t offsetNow = GetTimeZoneHours(app);
    if (offsetNow != offsetBeforeQuery) {
        newTime = Moved(clock.Now(), (static_cast<std::int64_t>(offsetNow) - offsetBeforeQuery) * 3600);
        result = clock.SetLocalDateTime(newTime);
        if (!result.ok) {
            ReportSetFailure(app, result);
            return;
        }
    }

    WriteLog(app, "system clock corrected to " + FormatCorrectedTime(newTime.time, clock.TimeSeparator()));
    app.exitStatus = ExitStatus::Ok;
}

}  // namespace vel
