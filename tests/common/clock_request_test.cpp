// The requests between the two parts of a machine run and the rules of the
// part that holds the right to set the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/clock_request.h"

namespace vel {
namespace {

using namespace platform;

using Bytes = std::vector<std::uint8_t>;

Bytes RequestBytes(const Span& step)
{
    const ClockRequestBytes bytes = EncodeClockRequest({ClockRequestKind::StepSystemClock, step});
    return {bytes.begin(), bytes.end()};
}

Bytes Changed(Bytes bytes, std::size_t at, std::uint8_t value)
{
    bytes[at] = value;
    return bytes;
}

const ClockBounds kBounds = {InstantOfUtc({2026, 1, 1, 0, 0, 0}), InstantOfUtc({2100, 1, 1, 0, 0, 0})};
const Instant kNow = InstantOfUtc({2026, 12, 8, 12, 0, 0});

TEST(ClockMessages, ARequestIsReadBackAsWrittenAndOnlyWhenEveryByteIsRight)
{
    for (const Span& step : {Span{0, 0}, Span{-95, 250000000}, Span{-1, 999999999}, Span{1LL << 40, 1}}) {
        std::string fault;
        EXPECT_EQ(DecodeClockRequest(RequestBytes(step), fault),
                  (ClockRequest{ClockRequestKind::StepSystemClock, step}));
    }
    const Bytes good = RequestBytes({-95, 0});
    Bytes longer = good;
    longer.push_back(0);
    const struct {
        const char* name;
        Bytes bytes;
        const char* fault;
    } bad[] = {
        {"short", Bytes(good.begin(), good.end() - 1), "a message of 23 bytes"},
        {"long", longer, "a message of 25 bytes"},
        {"empty", {}, "a message of 0 bytes"},
        {"version 2", Changed(good, 0, 2), "a message of version 2"},
        {"kind 2", Changed(good, 2, 2), "a request of kind 2"},
        {"padding", Changed(good, 4, 1), "a request with a field out of range"},
        {"nanoseconds over", Changed(Changed(good, 16, 0x00), 19, 0x3C), "a request with a field out of range"},
        {"nanoseconds negative", Changed(good, 19, 0x80), "a request with a field out of range"},
    };
    for (const auto& [name, bytes, fault] : bad) {
        SCOPED_TRACE(name);
        std::string said;
        EXPECT_FALSE(DecodeClockRequest(bytes, said));
        EXPECT_EQ(said, fault);
    }
}

TEST(ClockMessages, AnAnswerIsReadBackAsWrittenAndItsTextIsCutAtACharacter)
{
    const ClockAnswer refused{ClockRequestKind::StepSystemClock, false, EPERM, "clock_settime: x"};
    for (const ClockAnswer& answer : {ClockAnswer{ClockRequestKind::StepSystemClock, true, 0, ""}, refused})
        EXPECT_EQ(DecodeClockAnswer(EncodeClockAnswer(answer)), answer);
    // 242 ASCII bytes, then a two-byte character that does not fit.
    const std::string text(kClockAnswerTextSize - 2, 'a');
    const ClockAnswer longer{ClockRequestKind::StepSystemClock, false, 1, text + "\xC3\xA9"};
    EXPECT_EQ(DecodeClockAnswer(EncodeClockAnswer(longer)).value().text, text);
    // Wrong version, kind, ok flag; text without its end, or with bytes after
    // it; ok with a reason; one byte short.
    for (const auto& [at, value] : std::vector<std::pair<std::size_t, std::uint8_t>>{
             {0, 2}, {2, 9}, {4, 2}, {kClockAnswerSize - 1, 'x'}, {kClockAnswerSize, 'a'}, {4, 1}}) {
        ClockAnswerBytes bytes = EncodeClockAnswer(refused);
        if (at == kClockAnswerSize)
            std::fill(bytes.begin() + 12, bytes.end(), value);
        else
            bytes[at] = value;
        EXPECT_FALSE(DecodeClockAnswer(bytes)) << at;
    }
    const ClockAnswerBytes whole = EncodeClockAnswer(refused);
    EXPECT_FALSE(DecodeClockAnswer(std::span(whole).first(kClockAnswerSize - 1)));
}

TEST(ClockRequestRules, OneSettingPerRunWithinTheYearsThisProgramSets)
{
    const struct {
        const char* name;
        std::vector<Span> steps;  // asked in this order; the last is checked
        int refused;              // errno of its refusal; 0: allowed
    } cases[] = {
        {"a step back", {{-95, 0}}, 0},
        {"years forward, to the last second", {kBounds.end - Seconds(1) - kNow}, 0},
        {"back to the first second", {kBounds.earliest - kNow}, 0},
        {"a second setting", {{-95, 0}, {1, 0}}, EALREADY},
        {"after a refused one", {{-400LL * 86400 * 365, 0}, {-95, 0}}, 0},
        {"before this release's year", {kBounds.earliest - kNow - Span{0, 1}}, ERANGE},
        {"to 2100", {kBounds.end - kNow}, ERANGE},
        {"to 1970", {Instant{} - kNow}, ERANGE},
        {"farther than any calendar", {{INT64_MAX, 0}}, ERANGE},
    };
    for (const auto& [name, steps, refused] : cases) {
        SCOPED_TRACE(name);
        ClockRequestRules rules(kBounds);
        std::optional<Instant> allowed;
        ClockAnswer refusal;
        for (const Span& step : steps)
            allowed = rules.Allow({ClockRequestKind::StepSystemClock, step}, kNow, refusal);
        EXPECT_EQ(allowed.has_value(), refused == 0);
        if (allowed) {
            EXPECT_EQ(*allowed, kNow + steps.back());
        } else {
            EXPECT_EQ(refusal.errorNumber, refused);
        }
    }
    ClockRequestRules rules(kBounds);
    ClockAnswer refusal;
    EXPECT_FALSE(rules.Allow({ClockRequestKind::StepSystemClock, Instant{} - kNow}, kNow, refusal));
    EXPECT_EQ(refusal.text,
              "the time 1970-01-01 00:00:00 UTC lies outside the times this program sets "
              "(2026-01-01 to 2099-12-31)");
}

}  // namespace
}  // namespace vel
