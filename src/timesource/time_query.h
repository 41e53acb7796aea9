// The time query of a run: which host, over which protocol.
#pragma once

#include <string>

#include "timesource/time_servers.h"

namespace vel {

class App;
class TimeSource;
struct Settings;

// The run's own line when a bare host does not answer on TCP 13 and is asked
// over NTP instead.
inline constexpr const char* kAskedOverNtpText = "the server does not answer on the Daytime port; asked it over NTP";

// Asks the NTPServer entry's host for the time, as its protocol says
// (timesource/time_servers: ReadServerEntry), through its TimeSource:
// "daytime:" over Daytime only, "ntp:" over NTP only (timesource/
// sntp_client), "https:" the web server's Date (timesource/https_source),
// a bare host over Daytime
// and then, when TCP 13 was refused or silent on every attempt, over NTP
// once (kAskedOverNtpText; NTPFallback turns that off). A host the program
// once listed whose operator stopped is not asked: time.nist.gov is, after
// a WARNING line naming both; so is it when a listed host cannot be found.
// True: app.query holds the server's time (GetDaytimeTime says how) and
// the source that gave it; an NTP answer adds the line "the server answered
// over NTP (stratum N)", an HTTPS one "the server answered over HTTPS
// (Date: ...)".
// False: app.query.TimeError says why, and ServerTime is zero.
bool GetServerTime(App& app);

// Before a setting: the run's answer refined by the source that gave it
// (TimeSource::Refine); true where there is nothing to refine, false when
// the user cancelled meanwhile.
bool RefineServerTime(App& app);

// The source that asks over `protocol` (a bare host: Daytime).
const TimeSource& SourceOf(TimeProtocol protocol);

// NTPFallback: "Y" or missing (the default) lets a bare host that does not
// answer on TCP 13 be asked over NTP; like every yes/no key, anything else
// is no.
bool WantsNtpFallback(const Settings& settings);

}  // namespace vel
