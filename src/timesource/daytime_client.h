// Asking the configured server for the time over the Daytime protocol.
#pragma once

#include <cstddef>
#include <string>

namespace vel {

class App;

inline constexpr int DaytimePort = 13;
inline constexpr int kDaytimeAttempts = 3;
inline constexpr int kDaytimeTimeoutSeconds = 10;            // per attempt: lookup, connect and answer together
inline constexpr double kDaytimeAttemptSpacingSeconds = 4;   // at least this from one connect to the next
inline constexpr std::size_t kDaytimeReadLimit = 64 * 1024;  // bytes read from one data arrival

// Up to three attempts of 10 seconds each, their connects at least 4 seconds
// apart. True: app.query.ServerTime holds the server's time as local time and
// AnswerTime the PC clock at its arrival (ServerInstant and AnswerInstant the
// same precisely).
// False: app.query.TimeError says why and ServerTime is zero.
bool GetServerTime(App& app);

// The host of an NTPServer entry "host (operator, place)": the text before the
// first blank, or the whole entry when it has none.
std::string ServerHost(const std::string& entry);

}  // namespace vel
