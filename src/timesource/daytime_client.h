// Asking the configured server for the time over the Daytime protocol.
#pragma once

#include <cstddef>
#include <string>

#include "platform/instant.h"
#include "platform/socket.h"

namespace vel {

class App;
struct Settings;
struct TimeQueryState;

inline constexpr int DaytimePort = 13;
inline constexpr int kDaytimeAttempts = 3;
inline constexpr int kDaytimeTimeoutSeconds = 10;            // per attempt: lookup, connect and answer together
inline constexpr double kDaytimeAttemptSpacingSeconds = 4;   // at least this from one connect to the next
inline constexpr std::size_t kDaytimeReadLimit = 64 * 1024;  // bytes read from one data arrival

// Asks app.query.host over Daytime (GetServerTime, timesource/time_query,
// chooses the host and the protocol): up to three attempts of 10 seconds
// each, their connects at least 4 seconds apart. True: app.query.ServerTime holds the server's time as local time and
// AnswerTime the PC clock at its arrival (answerInstant the same precisely,
// serverInstant where the server's clock stood then and bound how far that
// may be off: from the handshake's round trip and, for an on-time NIST line,
// its msADV; see second_edge). A handshake that had to be retried measures
// no round trip: an on-time line is then read as sent msADV early, within
// the time from the handshake's end to its arrival.
// False: app.query.TimeError says why and ServerTime is zero.
bool GetDaytimeTime(App& app);
// The same with another host (a name or an address), into `query`.
bool GetDaytimeTime(App& app, const std::string& host, TimeQueryState& query);

// Precise: "Y" or missing (the default) asks for the further answers below;
// like every yes/no key, anything else is no.
bool WantsPrecision(const Settings& settings);

// After GetDaytimeTime, when WantsPrecision, for an answer that names only
// its second, or an on-time NIST line whose handshake was retried: asks the
// same server up to 7 more times, at least 1 second apart (4 for a server of
// NIST's layout) and all within 12 seconds, each connect timed so that the
// server reads its clock as one of its seconds begins; an on-time line until
// one comes with a measured round trip. Every answer must agree with what
// the others allow, the first's included, and the result never leaves the
// first answer's bounds: serverInstant, bound and answers are set from them
// all. The status box says so meanwhile (kMeasuringText): no countdown
// stands still. A failed query ends the search with what is known; answers
// that contradict each other leave the first answer's measurement. False
// when the user cancelled meanwhile.
bool RefineServerTime(App& app, const std::string& host, TimeQueryState& query);

// What another Daytime server said when asked once.
struct OtherServerAnswer {
    std::string error;                // why there is no answer (a TimeError text); empty when there is one
    std::string address;              // the address it was reached at; empty when the socket did not say
    platform::Instant arrival;        // the PC clock as the answer arrived
    platform::Instant serverInstant;  // where the server's clock stood then (as for the run's own query)
    platform::Span bound;             // how far serverInstant may be off
};

// Asks `host` once, with no attempt after the first and nothing of the run's
// own query touched, until the monotonic clock reaches `deadline`; Cancel
// ends the wait ("User cancelled"). For a second opinion on the run's answer.
OtherServerAnswer AskOtherServer(App& app, const std::string& host, int port, double deadline);

// "measured to within 4 ms over 8 answers": how precise serverInstant is.
std::string DescribePrecision(const TimeQueryState& query);

// "the PC clock is 12 ms ahead of the server, measured to within 4 ms over 8
// answers" ("behind" when it is): how far off the clock is, to the nearest
// millisecond, PCOffset not counted.
std::string DescribeOffset(const TimeQueryState& query);

// What the status box says while the further answers are asked for.
inline constexpr const char* kMeasuringText = "Measuring the server's time precisely... ";

// The number the log shows for a socket failure: Windows Sockets' own, as it
// always has, whatever the platform.
int WinsockNumber(const platform::SocketError& error);
// "winsock error - 10061 Connection refused"; "unknown winsock error" when
// the system gave no text.
std::string SocketErrorText(const platform::SocketError& error);

// The host of an NTPServer entry "host (operator, place)": the text before the
// first blank, or the whole entry when it has none.
std::string ServerHost(const std::string& entry);

}  // namespace vel
