// What the program knows of the servers it names itself: which of them no
// longer serve, whose manners apply to a server, and what an NTPServer entry
// asks for.
#pragma once

#include <string>
#include <string_view>

namespace vel {

// NIST's own name for all of its servers (each lookup gives another).
inline constexpr const char* kFallbackServerHost = "time.nist.gov";

// How an NTPServer entry asks for the time: "daytime:HOST", "ntp:HOST" or
// "https:HOST" name it; a bare host (every entry of the list, every settings
// file written before) asks over Daytime and, where TCP 13 does not answer,
// over NTP.
enum class TimeProtocol { Unnamed, Daytime, Ntp, Https };

struct ServerEntry {
    TimeProtocol protocol = TimeProtocol::Unnamed;
    std::string host;  // the text before the first blank, less its protocol
};

// The entry's protocol (its prefix, in any case) and host. A text before a
// colon that names no protocol is part of the host ("::1", "fe80::1").
ServerEntry ReadServerEntry(const std::string& entry);

// "NTP", "Daytime", "HTTPS" as the log names them.
const char* ProtocolName(TimeProtocol protocol);

// A host of the program's own lists (the dialog's, the built-in default,
// both as they are and as they were): where such a host cannot be found,
// the run asks kFallbackServerHost instead.
bool IsListedServer(std::string_view host);

// Why a host the program once listed no longer serves (its operator
// stopped): a run asks kFallbackServerHost instead, without asking it (a
// lapsed domain may be anyone's now). Empty for every other host.
std::string WhyRetired(std::string_view host);

// NIST's servers (by name or by NIST's addresses): NIST refuses a client
// that asks one of them more often than once every 4 seconds, whatever the
// protocol.
bool IsNistServer(std::string_view host);
inline constexpr double kNistQuerySpacingSeconds = 4;

}  // namespace vel
