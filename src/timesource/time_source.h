// One face for the protocols a time server is asked over: Daytime, NTP and
// the Date of an HTTPS server. A source is asked a host and leaves its
// answer in a TimeQueryState: the server's instant at the answer's arrival
// (serverInstant, answerInstant), how far that may be off (bound), the
// answers it rests on (answers), and the source that gave it (source).
#pragma once

#include <string>

namespace vel {

class App;
struct TimeQueryState;

class TimeSource {
public:
    virtual ~TimeSource() = default;

    // The protocol as the log names it: "Daytime", "NTP", "HTTPS".
    virtual const char* Name() const = 0;

    // Asks `host` for the time: true with `query` holding the first
    // measurement (ServerTime, AnswerTime and the rest as GetDaytimeTime
    // describes them; query.source this source), and any line the source
    // adds to the log written; false with query.TimeError saying why and
    // ServerTime zero.
    virtual bool Ask(App& app, const std::string& host, TimeQueryState& query) const = 0;

    // After a successful Ask, before the clock is set: further answers that
    // narrow a reading that names only its second (Precise other than "Y":
    // none). False when the user cancelled meanwhile.
    virtual bool Refine(App& app, const std::string& host, TimeQueryState& query) const = 0;
};

const TimeSource& DaytimeSource();  // timesource/daytime_source.cpp
const TimeSource& NtpSource();      // timesource/ntp_source.cpp
const TimeSource& HttpsSource();    // timesource/https_source.cpp

}  // namespace vel
