// Asking a server for the time over NTP (UDP 123) as a simple client.
#pragma once

#include <cstddef>
#include <string>

namespace vel {

class App;
struct TimeQueryState;

inline constexpr int kNtpQueries = 4;                   // requests in a run, at most
inline constexpr double kNtpQuerySpacingSeconds = 2;    // at least this apart, to one server (NIST's: 4)
inline constexpr double kNtpLookupTimeoutSeconds = 10;  // for the name's lookup
inline constexpr double kNtpLastAnswerWaitSeconds = 3;  // after the last request
inline constexpr std::size_t kNtpReadLimit = 48 + 1;    // one byte more than a packet: a longer one shows

// Sends up to 4 requests to `host`, 2 seconds apart (4 for NIST's servers),
// and keeps the answer with the least round trip: one answer is enough when
// Precise is not "Y". Answers that do not echo a request of this run are
// dropped as spoofed, malformed ones likewise; a kiss code RATE, DENY or
// RSTR ends the questions (a WARNING line says so; the answers before it
// still count); an unsynchronised server (leap indicator 3, stratum 0 or
// above 15, too far from its reference) gives no time at all.
// True: `query` holds the time as GetServerTime leaves it (ServerTime,
// AnswerTime, answerInstant, serverInstant, bound: half the kept sample's
// delay, answers, no onTimeAdvance) and the stratum in ntpStratum. False:
// query.TimeError says why (timeFailure: the socket's failure, if one).
bool GetNtpTime(App& app, const std::string& host, TimeQueryState& query);

}  // namespace vel
