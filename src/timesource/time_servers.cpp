#include "timesource/time_servers.h"

#include <array>

#include "common/text.h"

namespace vel {

namespace {

struct ProtocolPrefix {
    const char* prefix;
    TimeProtocol protocol;
};
constexpr std::array<ProtocolPrefix, 3> kPrefixes = {{
    {"daytime:", TimeProtocol::Daytime},
    {"ntp:", TimeProtocol::Ntp},
    {"https:", TimeProtocol::Https},
}};

// Hosts the program once offered whose operators stopped serving. Sources,
// read 2026-12-08:
// - NIST, "NIST Internet Time Servers", https://tf.nist.gov/tf-cgi/servers.cgi:
//   NIST's servers are now time-a..e-g.nist.gov (Gaithersburg),
//   time-a..e-b.nist.gov (Boulder), time-a..e-wwv.nist.gov (Fort Collins),
//   utcnist, utcnist2 and utcnist3.colorado.edu, and time.nist.gov for all
//   of them. The servers NIST once ran at Microsoft (time-nw.nist.gov), Datum,
//   Abovenet (glassey.com) and TrueTime (AOL) are gone from it, and NIST
//   runs none at those places any more.
// - US Naval Observatory, "Network Time Protocol (NTP)" (its Precise Time
//   Department's page, and its copies of 2009 and 2013): its servers serve
//   NTP and SNTP only, and are open to stratum 2 servers in their time zone,
//   not to single PCs. So the old built-in default answers no Daytime.
struct Retired {
    const char* host;
    const char* why;
};
constexpr std::array<Retired, 8> kRetired = {{
    {"time-nw.nist.gov", "NIST no longer runs a server at Microsoft in Redmond"},
    {"nist1.datum.com", "Datum no longer runs a NIST server"},
    {"nist1.dc.glassey.com", "Abovenet no longer runs a NIST server"},
    {"nist1.ny.glassey.com", "Abovenet no longer runs a NIST server"},
    {"nist1.sj.glassey.com", "Abovenet no longer runs a NIST server"},
    {"nist1.aol-ca.truetime.com", "TrueTime no longer runs a NIST server"},
    {"nist1.aol-va.truetime.com", "TrueTime no longer runs a NIST server"},
    {"tick.usno.navy.mil", "the Naval Observatory answers over NTP only, and only to servers"},
}};

// The hosts of the dialog's list and the built-in default that still serve
// (settings/config_form.h, settings/settings.h).
constexpr std::array<const char*, 7> kServing = {
    "time-a-g.nist.gov", "time-b-g.nist.gov",    "time-a-b.nist.gov", "time-b-b.nist.gov",
    "time-c-b.nist.gov", "utcnist.colorado.edu", "time.nist.gov",
};

// NIST's names, and its servers' networks (Gaithersburg, Boulder, Fort
// Collins) for a user who types an address from NIST's list.
constexpr std::array<const char*, 3> kNistAddressPrefixes = {"129.6.15.", "132.163.96.", "132.163.97."};

}  // namespace

ServerEntry ReadServerEntry(const std::string& entry)
{
    const std::size_t blank = entry.find(' ');
    std::string host = blank == std::string::npos ? entry : entry.substr(0, blank);
    const std::string lower = ToLower(host);
    for (const ProtocolPrefix& named : kPrefixes) {
        const std::string_view prefix = named.prefix;
        if (lower.starts_with(prefix))
            return {named.protocol, host.substr(prefix.size())};
    }
    return {TimeProtocol::Unnamed, host};
}

const char* ProtocolName(TimeProtocol protocol)
{
    switch (protocol) {
        case TimeProtocol::Ntp:
            return "NTP";
        case TimeProtocol::Https:
            return "HTTPS";
        case TimeProtocol::Daytime:
        case TimeProtocol::Unnamed:
            break;
    }
    return "Daytime";
}

bool IsListedServer(std::string_view host)
{
    const std::string lower = ToLower(host);
    for (const char* serving : kServing)
        if (lower == serving)
            return true;
    return !WhyRetired(lower).empty();
}

std::string WhyRetired(std::string_view host)
{
    const std::string lower = ToLower(host);
    for (const Retired& retired : kRetired)
        if (lower == retired.host)
            return retired.why;
    return {};
}

bool IsNistServer(std::string_view host)
{
    const std::string lower = ToLower(host);
    if (lower == "nist.gov" || lower.ends_with(".nist.gov"))
        return true;
    if (lower.starts_with("utcnist") && lower.ends_with(".colorado.edu"))
        return true;
    for (const char* prefix : kNistAddressPrefixes)
        if (lower.starts_with(prefix))
            return true;
    return false;
}

}  // namespace vel
