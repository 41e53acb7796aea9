// HTTPS constraints: the Date header of an HTTPS server's answer, which TLS
// vouches for, bounds the true time. Each one gives an interval the time
// must lie in: the second the Date names, widened by the request's round
// trip.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/https_date.h"
#include "platform/instant.h"
#include "timesource/step_guard.h"

namespace vel {

class App;

// All the servers together: no reply later than this after the requests.
inline constexpr double kConstraintWaitSeconds = 10;

// The instant a Date header names (its second's beginning, UTC), untrusted
// input read strictly: "Sun, 06 Nov 1994 08:49:37 GMT" (what servers send)
// and the two older forms every client must read, "Sunday, 06-Nov-94
// 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". The weekday is not checked.
// Nullopt for anything else.
std::optional<platform::Instant> ParseHttpDate(std::string_view text);

// Where the PC clock stands against the true time by a Date that named
// `date` in a reply to a request sent when the PC clock read `sent` and
// received when it read `received`: the server read its clock between the
// two, somewhere within the second it named.
OffsetRange ConstraintRange(const platform::Instant& sent, const platform::Instant& received,
                            const platform::Instant& date);

// Whether `date` lies within the validity of every certificate of the chain
// (and the chain is not empty).
bool DateWithinChain(const platform::Instant& date, const std::vector<platform::CertificateValidity>& chain);

// What one reply gives: the Date it names where the reply may be used (its
// chain trusted, or trusted but for dates the server's own Date explains),
// and what the log says of it beyond that (the accepted date fault), or why
// it may not be used.
struct UsableDate {
    std::optional<platform::Instant> date;
    std::string note;
};
UsableDate JudgeReply(const platform::HttpsDateReply& reply);

// One server's part, for the log and the decision.
struct Constraint {
    HostPort server;
    bool usable = false;  // it gave a range
    OffsetRange range;
    std::string note;  // what the log says of it beyond the range (an accepted date fault), or why it is not usable
};

// Asks every server at once and waits, through the event pump, for their
// replies: kConstraintWaitSeconds at most, less when Cancel is pressed (the
// caller sees app.flags.UserCancelled). One Constraint per server, in order.
std::vector<Constraint> AskConstraints(App& app, const std::vector<HostPort>& servers);

// "www.google.com" or "host:8443": a server as the log names it.
std::string ServerName(const HostPort& server, int defaultPort);

}  // namespace vel
