// The messages between the two parts of a machine run that holds the right
// to set the clock (privilege_split.h): the network part asks, the part that
// keeps CAP_SYS_TIME answers. Each message is one datagram of a fixed size,
// little-endian, with a version, so that the other side checks every byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/instant.h"

namespace vel::platform {

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
    Span step;

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
    std::string text;     // the reason for the log when !ok; at most kClockAnswerTextSize - 1 bytes

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

}  // namespace vel::platform
