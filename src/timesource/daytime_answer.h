// Reading the time out of a Daytime server's answer.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/instant.h"
#include "platform/local_date_time.h"

namespace vel {

class App;

enum class DaytimeLayout { Nist, Short, Xinetd };

// One valid answer, read once from its fixed positions.
struct DaytimeAnswer {
    DaytimeLayout layout = DaytimeLayout::Nist;
    platform::LocalDateTime utc;  // the second it names, in UTC (a NIST YR read as 2000-2099)
    platform::Instant named;      // the beginning of that second
    // A NIST line that names the instant at which its on-time marker arrives
    // (the label "UTC(NIST)" and the marker "*" or "#" after msADV, a number
    // of milliseconds 0 to 999.9): the server sends it msADV early to make up
    // for the network. Empty for every other answer.
    std::optional<platform::Span> onTimeAdvance;
};

// A layout: how an answer is told to be of it, and how it is read. The
// answer is untrusted: only fixed positions are looked at, every field is
// range-checked, and anything else (NUL bytes, binary garbage) is invalid.
struct DaytimeLayoutRow {
    DaytimeLayout layout;
    const char* name;
    bool (*isOfLayout)(std::string_view answer);
    std::optional<DaytimeAnswer> (*read)(std::string_view answer);  // layout and named filled in by the caller
};

// The layouts in the order they are told apart: the first whose test fits
// reads the answer (NIST's takes whatever the others do not).
//   xinetd: "07 DEC 2026 13:53:33 UTC" (only UTC, or GMT)
//   short:  "Thu Apr 11 15:30:02 2024" (ctime's)
//   NIST:   "\n60411 24-04-11 15:30:02 50 0 0 405.3 UTC(NIST) *"; a line whose
//           health digit H (the field after L) is 2 or more comes from a
//           server that knows its time is wrong: it is invalid
extern const std::array<DaytimeLayoutRow, 3> kDaytimeLayouts;

// The answer read by its layout's row; nullopt when it is not valid.
std::optional<DaytimeAnswer> ParseDaytimeAnswer(std::string_view answer);

// The server's time (UTC in the answer) as the PC's local date-time: plus
// the PC's exact offset from UTC now (GetTimeZoneOffsetSeconds).
platform::LocalDateTime ConvertAnswerToLocal(App& app, const DaytimeAnswer& answer);

// The answer as it may go into a log line or a message box: printable ASCII
// kept, every other byte escaped (\n, \r, \t, \xNN), and cut after
// kPrintableAnswerLimit bytes with a note of the whole length.
inline constexpr std::size_t kPrintableAnswerLimit = 200;
std::string PrintableAnswer(std::string_view answer);

}  // namespace vel
