// The search for the server's second edge, whatever the protocol: further
// answers, each timed to land on one of the server's second edges, narrow
// what the first answer of a one-second reading left open.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/instant.h"
#include "timesource/second_edge.h"

namespace vel {

class App;
struct TimeQueryState;

// One further answer, PC times from the first answer's arrival and server
// times from the second it named; or, failing one, why not (a TimeError
// text).
struct FurtherAnswer {
    std::optional<EdgeAnswer> answer;
    std::string error;
};
// Asks the server once, starting now, giving up at `deadline` (monotonic).
using AskOnce = std::function<FurtherAnswer(double deadline)>;

// Asks for further answers through `ask` while they may narrow the
// measurement: up to kEdgeMostAnswers in all, query.askAgainAfterSeconds
// apart from query.lastConnectSeconds on (`ask` sets it as it starts), all
// within kEdgeTimeLimitSeconds. The status box says so meanwhile
// (kMeasuringText). Sets serverInstant, bound and answers from them all, or
// leaves the first answer's measurement with measureNote saying why no more
// came or why they were not used. False when the user cancelled meanwhile.
bool SearchSecondEdge(App& app, TimeQueryState& query, const EdgeAnswer& first, const AskOnce& ask);

// Where the server's clock stood at the first answer's arrival, and how far
// that may be off, from what the answers measured.
void TakeMeasurement(TimeQueryState& query, const OffsetMeasurement& measured, int answers);

// Waits until the monotonic clock reaches `until`, with the window's events
// handled. False when Cancel ended the wait.
bool WaitUntil(App& app, double until);

double SecondsOf(const platform::Span& span);
platform::Span SpanOfSeconds(double seconds);

}  // namespace vel
