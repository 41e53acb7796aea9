// Reading the time out of a Daytime server's answer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/instant.h"
#include "platform/local_date_time.h"

namespace vel {

class App;

// Cuts the date and time out of the answer at their fixed positions and tests
// them. Returns "<date text> <time text>" when both are valid, else the empty
// text. Three layouts:
//   NIST:   "\n60411 24-04-11 15:30:02 50 0 0 405.3 UTC(NIST) *" gives "04-11-24 15:30:02"
//   short:  "Thu Apr 11 15:30:02 2024"                          gives "Apr 11 2024 15:30:02"
//   xinetd: "07 DEC 2026 13:53:33 UTC"                          gives "DEC 07 2026 13:53:33"
// A NIST line whose health digit H (the field after L) is 2 or more comes from
// a server that knows its time is wrong: it is invalid. An xinetd line is
// valid only in UTC (or GMT).
// The answer is untrusted: only fixed positions are looked at, every field is
// range-checked, and anything else (NUL bytes, binary garbage) is invalid.
std::string ParseDaytimeAnswer(std::string_view answer);

// The UTC date-time that a non-empty result of ParseDaytimeAnswer stands for
// (NIST YR is read as 2000-2099); nullopt for any other text.
std::optional<platform::LocalDateTime> ReadParsedAnswer(std::string_view parsed);

// A NIST line that names the instant at which its on-time marker arrives: the
// NIST layout ending in the label "UTC(NIST)" and the marker "*" or "#", with
// msADV a number of milliseconds (0 to 999.9). The server sends such a line
// msADV early to make up for the network; OnTimeAdvance reads that advance,
// and is nullopt for every other answer.
std::optional<platform::Span> OnTimeAdvance(std::string_view answer);
bool IsOnTimeAnswer(std::string_view answer);

// The beginning of the second a valid answer names, as UTC.
std::optional<platform::Instant> NamedInstant(std::string_view answer);

// Where the server's clock stood as a valid answer arrived, and how far that
// may be off (assuming the server's clock itself is right), given the round
// trip of the connection's handshake (zero when it was not measured). An
// on-time line left msADV before the second it names and was half the round
// trip on its way: the bound is half the round trip, the part of the transit
// no client can tell from its way there. Any other line was sent within the
// second it names, taken as half over: half a second more.
struct ServerEstimate {
    platform::Instant atArrival;
    platform::Span bound;
};
std::optional<ServerEstimate> EstimateServerTime(std::string_view answer, platform::Span roundTrip);

// The server's time (UTC in the answer) as the PC's local date-time: the
// non-empty result of ParseDaytimeAnswer plus the PC's exact offset from UTC
// now (GetTimeZoneOffsetSeconds).
// The zero value when `parsed` is not such a result.
platform::LocalDateTime ConvertAnswerToLocal(App& app, const std::string& parsed);

// The answer as it may go into a log line or a message box: printable ASCII
// kept, every other byte escaped (\n, \r, \t, \xNN), and cut after
// kPrintableAnswerLimit bytes with a note of the whole length.
inline constexpr std::size_t kPrintableAnswerLimit = 200;
std::string PrintableAnswer(std::string_view answer);

}  // namespace vel
