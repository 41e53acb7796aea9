// Finding where a server's second begins, for answers that name only their
// second: each answer says on which side of a second's edge the server read
// its clock, so answers timed to fall on an edge halve what is left open.
#pragma once

#include <optional>
#include <vector>

namespace vel {

inline constexpr int kEdgeMostAnswers = 8;           // the first answer and up to 7 more
inline constexpr double kEdgeTimeLimitSeconds = 12;  // all the further queries together
inline constexpr double kEdgeQuerySpacingSeconds = 1;

// One answer. PC times are seconds on the PC clock from one origin, server
// times seconds on the server's clock from another; the offsets below are
// PC minus server, from the difference of the two origins.
struct EdgeAnswer {
    double connecting = 0;  // PC: the handshake began
    double arrival = 0;     // PC: the answer came
    double roundTrip = 0;   // the handshake's round trip (0: not measured)
    double named = 0;       // server: the second the answer names begins (whole seconds apart)
};

struct OffsetInterval {
    double low = 0;
    double high = 0;
    double Width() const { return high - low; }
    double Middle() const { return (low + high) / 2; }
};

// The server read its clock half a round trip before its answer came (its
// way back taken as long as the way there) and named the second under way:
// so the offset lies within one second, widened by EdgeAllowance for what
// the timing of one answer may be off by. Nullopt when no offset fits every
// answer (the server contradicts itself).
std::optional<OffsetInterval> AllowedOffsets(const std::vector<EdgeAnswer>& answers);

// 2 ms for the readings of the clock, and half the spread of the round trips
// (how much a way through the network varies), in seconds.
double EdgeAllowance(const std::vector<EdgeAnswer>& answers);

// When to begin the next connect (PC time, no earlier than `earliest`) so
// that the server reads its clock as one of its seconds begins, if the
// offset is the middle of `allowed`; the time from the connect to that
// reading is taken from the latest answer.
double NextConnectTime(const OffsetInterval& allowed, const EdgeAnswer& latest, double earliest);

// Whether another answer is worth asking for: fewer than kEdgeMostAnswers so
// far, and the interval still wide enough for one more to narrow it by a
// quarter or more (each answer at best halves it and adds the allowance).
bool WorthAnotherAnswer(const OffsetInterval& allowed, const std::vector<EdgeAnswer>& answers);

}  // namespace vel
