// Asking a web server for the time: the Date header of its answer over
// HTTPS, which TLS vouches for, refined to a fraction of a second by timing
// further requests onto the server's second edges.
#pragma once

#include <string>

namespace vel {

class App;
struct TimeQueryState;

inline constexpr int kHttpsPort = 443;
inline constexpr int kHttpsAttempts = 3;            // requests that found no answer in time, at most
inline constexpr double kHttpsTimeoutSeconds = 10;  // per request: lookup, handshakes and answer together

// Asks `host` ("host", "host:port", "[v6 address]:port"; port 443 unless it
// names one) for its Date through the HTTPS Date seam: the system's trust
// store and proxy, the certificate checked as the step guard's constraints
// check it (a chain out of date by the PC clock counts only when the Date
// lies within every certificate's validity). Up to three requests where none
// is answered within 10 seconds; a reply that fails or cannot be used ends
// the questions. True: `query` holds the answer as for a Daytime answer that
// names its second (ServerTime that second as local time, serverInstant and
// bound from the request's span, answers 1, ServerAnswer the Date as sent)
// and the log says "the server answered over HTTPS (Date: ...)". False:
// query.TimeError says why.
bool GetHttpsTime(App& app, const std::string& host, TimeQueryState& query);

// The second-edge search over further HTTPS requests (later ones mostly on
// the connection the first opened), when WantsPrecision.
bool RefineHttpsTime(App& app, const std::string& host, TimeQueryState& query);

}  // namespace vel
