// Reading the time out of a Daytime server's answer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/local_date_time.h"

namespace vel {

class App;

// Cuts the date and time out of the answer at their fixed positions (the NIST
// layout, or the short weekday-month-day-time-year one) and tests them.
// Returns "<date text> <time text>" when both are valid, else the empty text.
//   NIST:  "\n60411 24-04-11 15:30:02 50 0 0 405.3 UTC(NIST) *" gives "04-11-24 15:30:02"
//   short: "Thu Apr 11 15:30:02 2024"                          gives "Apr 11 2024 15:30:02"
// The answer is untrusted: only fixed positions are looked at, every field is
// range-checked, and anything else (NUL bytes, binary garbage) is invalid.
std::string ParseDaytimeAnswer(std::string_view answer);

// The UTC date-time that a non-empty result of ParseDaytimeAnswer stands for
// (NIST YR is read as 2000-2099); nullopt for any other text.
std::optional<platform::LocalDateTime> ReadParsedAnswer(std::string_view parsed);

// The server's time (UTC in the answer) as the PC's local date-time: the
// non-empty result of ParseDaytimeAnswer plus GetTimeZoneHours() hours.
// The zero value when `parsed` is not such a result.
platform::LocalDateTime ConvertAnswerToLocal(App& app, const std::string& parsed);

// The answer as it may go into a log line or a message box: printable ASCII
// kept, every other byte escaped (\n, \r, \t, \xNN), and cut after
// kPrintableAnswerLimit bytes with a note of the whole length.
inline constexpr std::size_t kPrintableAnswerLimit = 200;
std::string PrintableAnswer(std::string_view answer);

}  // namespace vel
