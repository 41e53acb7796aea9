// What a server's answers say about its clock. Each answer bounds the
// offset of the PC clock from the server's whatever the network did with
// its packets; for answers that name only their second, further answers
// timed to fall on one of the server's second edges halve what is left open.
#pragma once

#include <optional>
#include <vector>

namespace vel {

inline constexpr int kEdgeMostAnswers = 8;           // the first answer and up to 7 more
inline constexpr double kEdgeTimeLimitSeconds = 12;  // all the further queries together
inline constexpr double kEdgeQuerySpacingSeconds = 1;
inline constexpr double kReadingAllowance = 0.002;  // seconds, for the readings of the clock

// One answer. PC times are seconds on the PC clock from one origin, server
// times seconds on the server's clock from another; the offsets below are
// PC minus server, less the difference of the two origins.
struct EdgeAnswer {
    double connecting = 0;          // PC: the handshake began
    double connected = 0;           // PC: the handshake was answered
    double arrival = 0;             // PC: the answer came
    bool handshakeRetried = false;  // a packet of it was sent again: connecting to connected is no round trip
    double named = 0;               // server: the second the answer names begins (whole seconds apart)
    // An on-time line: sent this many seconds (msADV) before `named` began,
    // the server having waited for that moment. Empty: the answer was sent
    // at once, within the second it names.
    std::optional<double> onTimeAdvance;
    // A request over a connection of its own (an HTTPS Date): no handshake
    // is timed apart, `connected` is when the request was sent, and the
    // whole exchange from there to `arrival` is its path.
    bool requestOnly = false;
};

struct OffsetInterval {
    double low = 0;
    double high = 0;
    double Width() const { return high - low; }
    double Middle() const { return (low + high) / 2; }
};

// The round trip of the answer's path, in seconds: its handshake's (for a
// request alone, the whole exchange's). Where a
// packet of the handshake was sent again, for an answer sent at once, the
// time from the handshake's end to the answer: one way there and one back,
// which neither a retried SYN nor a middlebox that completes the handshake
// itself (a NAT, a VM's user-mode network) lengthens. Empty for an on-time
// line then: its wait is no part of the path.
std::optional<double> PathRoundTrip(const EdgeAnswer& answer);

// The offsets an answer allows, whatever the two ways took: the server
// cannot have read its clock (or sent an on-time line) before our handshake
// ended, nor after its answer arrived; an on-time line whose path's round
// trip is known came back within that round trip. Widened by
// kReadingAllowance each side.
OffsetInterval AnswerBounds(const EdgeAnswer& answer);

// Narrower: where the answer puts the offset if its way back took half the
// round trip, widened by `allowance` each side. Empty without a round trip.
std::optional<OffsetInterval> AnswerEstimate(const EdgeAnswer& answer, double allowance);

// kReadingAllowance and half what the answer's round trip exceeds the
// shortest of all: that much more may have been spent on one way alone.
double EdgeAllowance(const EdgeAnswer& answer, const std::vector<EdgeAnswer>& answers);

// What the answers say together.
struct OffsetMeasurement {
    OffsetInterval bounds;                   // what every answer allows: never beyond the first's
    std::optional<OffsetInterval> estimate;  // what every answer's estimate allows; empty: no round trip known
    // The result: the middle of the estimate, kept within the bounds; with no
    // estimate, the first answer as it reads on its own (an on-time line: sent
    // msADV early, taken as arrived at once), which is never late.
    double offset = 0;
    double bound = 0;  // how far the offset may be off: to the farther end of the bounds
};

// Empty when the answers contradict each other: one allows nothing that the
// others do (a server that lies, or whose clock jumped).
std::optional<OffsetMeasurement> MeasureOffset(const std::vector<EdgeAnswer>& answers);

// When to begin the next connect (PC time, no earlier than `earliest`) so
// that the server reads its clock as one of its seconds begins, if the
// offset is the middle of the estimate; the time from the connect to that
// reading is taken from the latest answer. At `earliest` when there is no
// edge to aim at (no estimate yet, or an on-time line, sent when the server
// chooses).
double NextConnectTime(const OffsetMeasurement& measured, const EdgeAnswer& latest, double earliest);

// Seconds from a connect to its answer, as the latest answer would have
// taken without a retry of its handshake.
double ExpectedAnswerSeconds(const EdgeAnswer& latest);

// Whether another answer is worth asking for: fewer than kEdgeMostAnswers so
// far, and no round trip known yet, or the estimate still wide enough for
// one more to narrow it by a quarter or more (each answer at best halves it
// and adds the readings' allowance).
bool WorthAnotherAnswer(const OffsetMeasurement& measured, const std::vector<EdgeAnswer>& answers);

}  // namespace vel
