// Asking the configured server for the time over the Daytime protocol.
#pragma once

#include <cstddef>
#include <string>

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
// serverInstant where the server's clock stood then, from the handshake's
// round trip and, for an on-time NIST line, its msADV).
// False: app.query.TimeError says why and ServerTime is zero.
bool GetDaytimeTime(App& app);

// Precise: "Y" or missing (the default) asks for the further answers below;
// like every yes/no key, anything else is no.
bool WantsPrecision(const Settings& settings);

// After GetServerTime, for an answer that names only its second (every one
// but an on-time NIST line) and when WantsPrecision: asks the same
// server up to 7 more times, each connect timed so that the server reads its
// clock as one of its seconds begins, at least 1 second apart (4 for a
// server of NIST's layout) and all within 12 seconds, and sets serverInstant
// to the middle of what every answer allows, bound and answers with it. The
// status box says so meanwhile (kMeasuringText): no countdown stands still.
// A failed query ends the search with what is known; answers that contradict
// each other leave the first answer's estimate. False when the user
// cancelled meanwhile.
bool RefineServerTime(App& app);

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
