// The messages between the two parts of a machine run that holds the right
// to set the clock (Linux: platform/linux/privilege_split.h): the network
// part asks, the part that keeps the right answers. Each message has a fixed
// size, little-endian, with a version, so that the other side checks every
// byte. And the rules that part keeps, which trust nothing the network part
// parsed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/instant.h"

namespace vel {

inline constexpr std::uint16_t kClockMessageVersion = 1;

// What may be asked. A value no part knows ends the part that keeps the
// right; a new kind (the hardware clock after the system clock) is a new
// number, never a new meaning of an old one.
enum class ClockRequestKind : std::uint16_t {
    StepSystemClock = 1,  // move CLOCK_REALTIME by `step`
};

struct ClockRequest {
    ClockRequestKind kind = ClockRequestKind::StepSystemClock;
    // Forward when positive. A step, not an instant: the time the request
    // spends between the parts does not make the clock late.
    platform::Span step;

    friend bool operator==(const ClockRequest&, const ClockRequest&) = default;
};

// version u16, kind u16, zero u32, seconds i64, nanoseconds i32 (0 ..
// 999999999), zero u32.
inline constexpr std::size_t kClockRequestSize = 24;
using ClockRequestBytes = std::array<std::uint8_t, kClockRequestSize>;

ClockRequestBytes EncodeClockRequest(const ClockRequest& request);
// The request, when `bytes` are exactly one; else nullopt and why in `fault`.
std::optional<ClockRequest> DecodeClockRequest(std::span<const std::uint8_t> bytes, std::string& fault);

struct ClockAnswer {
    ClockRequestKind kind = ClockRequestKind::StepSystemClock;  // of the request answered
    bool ok = false;
    int errorNumber = 0;  // errno when !ok
    std::string text;     // the reason for the log when !ok, else a line on the hardware clock; at most
                          // kClockAnswerTextSize - 1 bytes

    friend bool operator==(const ClockAnswer&, const ClockAnswer&) = default;
};

// version u16, kind u16, ok u32 (0 or 1), errno i32, then the text, ended by
// a zero byte and zero to the end.
inline constexpr std::size_t kClockAnswerSize = 256;
inline constexpr std::size_t kClockAnswerTextSize = kClockAnswerSize - 12;
using ClockAnswerBytes = std::array<std::uint8_t, kClockAnswerSize>;

// A longer text is cut at a character's start.
ClockAnswerBytes EncodeClockAnswer(const ClockAnswer& answer);
std::optional<ClockAnswer> DecodeClockAnswer(std::span<const std::uint8_t> bytes);

// The instants this program ever sets: earliest <= t < end.
struct ClockBounds {
    platform::Instant earliest;
    platform::Instant end;
};

// From the first day of the year this release was made (no clock honestly
// reads earlier; a server or a network that names 1999 or 1970 is wrong) to
// the end of 2099 (the last year a NIST answer can name: it has two digits).
ClockBounds SettableTimes();

// What can be checked without trusting the network part: one setting of the
// system clock per run, and a clock that lands within the bounds. How far a
// step may go cannot be checked here: a clock years off is set honestly once
// two sources agree, and whether they did is the network part's word.
class ClockRequestRules {
public:
    explicit ClockRequestRules(ClockBounds bounds) : bounds_(bounds) {}

    // The instant to set for a request made at `now`, or nullopt with the
    // refusal in `refusal`. An instant given counts as the run's one setting
    // of its kind, whatever comes of it.
    std::optional<platform::Instant> Allow(const ClockRequest& request, const platform::Instant& now,
                                           ClockAnswer& refusal);

private:
    ClockBounds bounds_;
    bool systemClockAsked_ = false;
};

}  // namespace vel
