// The NTP packet as a client in unicast mode sends it, and the server's
// answer read and judged: 48 bytes from an unknown peer, every field checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/instant.h"

namespace vel {

inline constexpr int NtpPort = 123;
inline constexpr std::size_t kNtpPacketBytes = 48;

// A server further than this from its own reference (half its root delay
// plus its root dispersion) does not know the time well enough to set ours.
inline constexpr double kNtpMaxRootDistanceSeconds = 1.0;

// Seconds since 1900-01-01 00:00 UTC modulo 2^32 (the era leaves them in
// 2036 and 2172, ...) and a binary fraction of a second.
struct NtpTimestamp {
    std::uint32_t seconds = 0;
    std::uint32_t fraction = 0;

    bool IsZero() const { return seconds == 0 && fraction == 0; }
    friend bool operator==(const NtpTimestamp&, const NtpTimestamp&) = default;
};

// The timestamp of an instant (its era dropped), to 1/2^32 of a second.
NtpTimestamp ToNtpTimestamp(const platform::Instant& t);
// The instant a timestamp names in whichever era puts it nearest to `near`
// (so within 68 years of it either way): one read by a PC clock that is
// itself years off still lands in the right era.
platform::Instant FromNtpTimestamp(const NtpTimestamp& t, const platform::Instant& near);

// A client's request (version 4, mode 3) whose transmit timestamp is
// `transmit`; every other field zero.
std::string EncodeClientRequest(const NtpTimestamp& transmit);

// The fields of a server's answer, as they came.
struct NtpReply {
    int leap = 0;                      // 0..3; 3: the server's clock is not synchronised
    int version = 0;                   // 1..4
    int mode = 0;                      // 4: a server's answer
    int stratum = 0;                   // 0: a kiss code in referenceId; 1..15; 16 and up: not synchronised
    int precision = 0;                 // log2 of its clock's resolution in seconds, -32..0
    std::uint32_t rootDelay = 0;       // seconds in 16.16 fixed point
    std::uint32_t rootDispersion = 0;  // the same
    std::uint32_t referenceId = 0;
    NtpTimestamp origin;    // our transmit timestamp, echoed
    NtpTimestamp receive;   // the server's clock as our request came
    NtpTimestamp transmit;  // the server's clock as its answer left

    // Half the root delay plus the root dispersion, in seconds.
    double RootDistance() const;
};

// What an answer is worth.
enum class NtpVerdict {
    Usable,
    Malformed,       // not an answer of a server at all (size, mode, version, a zero time, times out of order)
    Spoofed,         // does not echo the request it claims to answer: someone else's, or an old one
    Kiss,            // stratum 0: the server says no (kissCode); RATE, DENY and RSTR end the run's questions
    Unsynchronised,  // leap indicator 3, stratum 16 and up, or too far from its own reference
};

struct NtpCheck {
    NtpVerdict verdict = NtpVerdict::Malformed;
    NtpReply reply;        // as read, when the bytes held a packet at all
    std::string kissCode;  // Kiss: the four letters, escaped where not printable
    std::string reason;    // every verdict but Usable: "47 bytes (48 expected)", "leap indicator 3"
};

// The transmit timestamp a 48-byte packet echoes as its origin; none for
// bytes of any other size.
std::optional<NtpTimestamp> OriginOf(std::string_view bytes);

// Judges a server's answer to the request whose transmit timestamp was
// `sent`. The size comes first and the origin before anything else is
// believed: a kiss from someone who never saw the request is only spoofed.
NtpCheck CheckServerReply(std::string_view bytes, const NtpTimestamp& sent);

// Whether a kiss code tells the client to stop asking that server.
bool KissEndsQuestions(std::string_view kissCode);
// "asked too often", "access denied", "access restricted"; empty for others.
std::string KissMeaning(std::string_view kissCode);

// One exchange: t1 (our clock as the request left), t2 and t3 (the server's
// as it came and as the answer left), t4 (ours as the answer came).
struct NtpSample {
    platform::Instant sent;     // t1
    platform::Instant arrived;  // t4
    platform::Span offset;  // ((t2 - t1) + (t3 - t4)) / 2: the server's clock less ours; positive when ours is behind
    platform::Span delay;   // (t4 - t1) - (t3 - t2): the round trip on the wire, never negative
    int stratum = 0;
};

// The sample of a usable answer; none when its times contradict each other
// (the server held the request longer than the whole round trip took).
std::optional<NtpSample> MeasureSample(const NtpReply& reply, const platform::Instant& sent,
                                       const platform::Instant& arrived);

}  // namespace vel
