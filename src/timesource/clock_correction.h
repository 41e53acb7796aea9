// Comparing the PC clock with the server's time, and setting it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/instant.h"
#include "platform/local_date_time.h"

namespace vel {

class App;
struct TimeQueryState;

inline constexpr std::int16_t CorrectionCountdown = 3;
// The status box's text after the remaining seconds of an exit countdown.
inline constexpr const char* kExitCountdownSuffix = " secs.  To exit immediately, click QUIT.";

// What the status window's clock-status label says when another time service
// keeps the clock (the log names the service and how to turn it off).
inline constexpr const char* kKeptByTimeServiceText = "Another time service keeps the clock! See .LOG file for details";

// After a successful query: compares (AnswerTime - PCOffset) with ServerTime
// and, when the difference exceeds Tolerance, counts down and (unless
// cancelled or "noupdate") measures the server's time more precisely where
// its answer names only its second (RefineServerTime), then sets the clock to
// the current instant less the precise difference. Where another time service
// keeps the clock, it is compared and left alone (ExitStatus::KeptByTimeService).
// Logs the outcome (and, after a setting, how precise it was; when the clock
// is left as it is, how far off it is: DescribeOffset, after the search in a
// dry run) and sets app.exitStatus.
void CompareAndCorrect(App& app);

// Seconds the PC clock is ahead of where it should be (server's time plus
// PCOffset); negative when it is behind. In 64 bits: a clock decades off
// does not wrap.
std::int64_t ClockDifference(const platform::LocalDateTime& answerTime, std::int32_t pcOffset,
                             const platform::LocalDateTime& serverTime);

// The same precisely, as the clock is moved: answerInstant - PCOffset -
// serverInstant, positive when the PC clock is ahead.
platform::Span PreciseClockDifference(const TimeQueryState& query, std::int32_t pcOffset);

// "1 day 1 hour 1 minute 1 second"; empty for 0 (and for a negative count);
// any count of seconds, beyond the 32-bit range (68 years) too.
std::string FormatLongDuration(std::int64_t seconds);

// "MM.DD.YY HH:MM" with the locale's time separator: the corrected time in the log.
std::string FormatCorrectedTime(const platform::LocalDateTime& t, const std::string& timeSeparator);

}  // namespace vel
