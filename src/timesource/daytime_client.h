// Asking the configured server for the time over the Daytime protocol.
#pragma once

namespace vel {

class App;

inline constexpr int DaytimePort = 13;

// Up to three attempts of 10 seconds each. True: app.query.ServerTime holds the
// server's time as local time and AnswerTime the PC clock at its arrival.
// False: app.query.TimeError says why and ServerTime is zero.
bool GetServerTime(App& app);

}  // namespace vel
