#include "common/clock_request.h"

#include <cerrno>

#include <algorithm>

#include "platform/local_date_time.h"

#ifndef VELTRANE_RELEASE_YEAR
#error "VELTRANE_RELEASE_YEAR: the year of this release, from the release history"
#endif

namespace vel {

using platform::Instant;
using platform::InstantOfUtc;
using platform::Seconds;
using platform::ToIsoText;
using platform::UtcDateTime;

namespace {

// Farther than any instant between the bounds: the sum cannot overflow.
constexpr std::int64_t kFarthestStep = std::int64_t{1} << 40;

std::string DateText(const Instant& t)
{
    return ToIsoText(UtcDateTime(t)).substr(0, 10);
}

void Put(std::uint8_t* at, std::uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t Get(const std::uint8_t* at, std::size_t bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return value;
}

bool KnownKind(std::uint64_t kind)
{
    return kind == static_cast<std::uint16_t>(ClockRequestKind::StepSystemClock);
}

}  // namespace

ClockRequestBytes EncodeClockRequest(const ClockRequest& request)
{
    ClockRequestBytes bytes{};
    Put(&bytes[0], kClockMessageVersion, 2);
    Put(&bytes[2], static_cast<std::uint16_t>(request.kind), 2);
    Put(&bytes[8], static_cast<std::uint64_t>(request.step.seconds), 8);
    Put(&bytes[16], static_cast<std::uint32_t>(request.step.nanoseconds), 4);
    return bytes;
}

std::optional<ClockRequest> DecodeClockRequest(std::span<const std::uint8_t> bytes, std::string& fault)
{
    if (bytes.size() != kClockRequestSize) {
        fault = "a message of " + std::to_string(bytes.size()) + " bytes";
        return std::nullopt;
    }
    const std::uint8_t* b = bytes.data();
    if (const std::uint64_t version = Get(b, 2); version != kClockMessageVersion) {
        fault = "a message of version " + std::to_string(version);
        return std::nullopt;
    }
    const std::uint64_t kind = Get(b + 2, 2);
    if (!KnownKind(kind)) {
        fault = "a request of kind " + std::to_string(kind);
        return std::nullopt;
    }
    const auto nanoseconds = static_cast<std::int32_t>(Get(b + 16, 4));
    if (Get(b + 4, 4) != 0 || Get(b + 20, 4) != 0 || nanoseconds < 0 || nanoseconds > 999999999) {
        fault = "a request with a field out of range";
        return std::nullopt;
    }
    return ClockRequest{static_cast<ClockRequestKind>(kind), {static_cast<std::int64_t>(Get(b + 8, 8)), nanoseconds}};
}

ClockAnswerBytes EncodeClockAnswer(const ClockAnswer& answer)
{
    ClockAnswerBytes bytes{};
    Put(&bytes[0], kClockMessageVersion, 2);
    Put(&bytes[2], static_cast<std::uint16_t>(answer.kind), 2);
    Put(&bytes[4], answer.ok ? 1 : 0, 4);
    Put(&bytes[8], static_cast<std::uint32_t>(answer.errorNumber), 4);
    std::size_t length = std::min(answer.text.size(), kClockAnswerTextSize - 1);
    // Not inside a UTF-8 sequence: back to the byte that starts a character.
    while (length < answer.text.size() && length > 0 &&
           (static_cast<unsigned char>(answer.text[length]) & 0xC0) == 0x80)
        --length;
    std::copy_n(answer.text.begin(), length, bytes.begin() + 12);
    return bytes;
}

std::optional<ClockAnswer> DecodeClockAnswer(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() != kClockAnswerSize)
        return std::nullopt;
    const std::uint8_t* b = bytes.data();
    const std::uint64_t kind = Get(b + 2, 2);
    const std::uint64_t ok = Get(b + 4, 4);
    if (Get(b, 2) != kClockMessageVersion || !KnownKind(kind) || ok > 1)
        return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(b + 12);
    const auto* end = std::find(text, text + kClockAnswerTextSize, '\0');
    if (end == text + kClockAnswerTextSize || std::any_of(end, text + kClockAnswerTextSize, [](char c) { return c; }))
        return std::nullopt;
    ClockAnswer answer{static_cast<ClockRequestKind>(kind), ok == 1, static_cast<std::int32_t>(Get(b + 8, 4)),
                       std::string(text, end)};
    if (answer.ok && answer.errorNumber != 0)
        return std::nullopt;
    return answer;
}

ClockBounds SettableTimes()
{
    return {InstantOfUtc({VELTRANE_RELEASE_YEAR, 1, 1, 0, 0, 0}), InstantOfUtc({2100, 1, 1, 0, 0, 0})};
}

std::optional<Instant> ClockRequestRules::Allow(const ClockRequest& request, const Instant& now, ClockAnswer& refusal)
{
    refusal = {request.kind, false, 0, {}};
    if (systemClockAsked_) {
        refusal.errorNumber = EALREADY;
        refusal.text = "the clock was set once in this run already";
        return std::nullopt;
    }
    const bool near = request.step.seconds > -kFarthestStep && request.step.seconds < kFarthestStep;
    const Instant target = near ? now + request.step : Instant{};
    if (!near || target < bounds_.earliest || target >= bounds_.end) {
        refusal.errorNumber = ERANGE;
        refusal.text = (near ? "the time " + ToIsoText(UtcDateTime(target)) + " UTC" : std::string("a step that far")) +
                       " lies outside the times this program sets (" + DateText(bounds_.earliest) + " to " +
                       DateText(bounds_.end - Seconds(1)) + ")";
        return std::nullopt;
    }
    systemClockAsked_ = true;
    return target;
}

}  // namespace vel
