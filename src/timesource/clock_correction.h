// Comparing the PC clock with the server's time, and setting it.
#pragma once

#include <cstdint>
#include <string>

namespace vel {

class App;

inline constexpr std::int16_t CorrectionCountdown = 3;

// After a successful query: compares (AnswerTime - PCOffset) with ServerTime
// and, when the difference exceeds Tolerance, counts down and sets the clock
// (unless cancelled or "noupdate"). Logs the outcome and sets app.exitStatus.
// offsetBeforeQuery: GetTimeZoneHours() taken just before the query.
void CompareAndCorrect(App& app, std::int16_t offsetBeforeQuery);

// "1 day 1 hour 1 minute 1 second"; empty for 0.
std::string FormatDuration(std::int32_t seconds);

}  // namespace vel
