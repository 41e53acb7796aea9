// Reading the time out of a Daytime server's answer.
#pragma once

#include <string>
#include <string_view>

#include "platform/local_date_time.h"

namespace vel {

class App;

// Cuts the date and time out of the answer at their fixed positions (the NIST
// layout, or the short weekday-month-day-time-year one) and tests them.
// Returns "<date text> <time text>" when both are valid, else the empty text.
std::string ParseDaytimeAnswer(std::string_view answer);

// The server's time (UTC in the answer) as the PC's local date-time: the
// non-empty result of ParseDaytimeAnswer plus GetTimeZoneHours() hours.
platform::LocalDateTime ConvertAnswerToLocal(App& app, const std::string& parsed);

}  // namespace vel
