#include "platform/instant.h"

namespace vel::platform {

namespace {

constexpr std::int64_t kBillion = 1000000000;

}  // namespace

Span MakeSpan(std::int64_t seconds, std::int64_t nanoseconds)
{
    seconds += nanoseconds / kBillion;
    nanoseconds %= kBillion;
    if (nanoseconds < 0) {
        nanoseconds += kBillion;
        --seconds;
    }
    return {seconds, static_cast<std::int32_t>(nanoseconds)};
}

Span operator-(const Span& span)
{
    return MakeSpan(-span.seconds, -static_cast<std::int64_t>(span.nanoseconds));
}

Span operator+(const Span& a, const Span& b)
{
    return MakeSpan(a.seconds + b.seconds, static_cast<std::int64_t>(a.nanoseconds) + b.nanoseconds);
}

Span operator-(const Span& a, const Span& b)
{
    return a + -b;
}

Span operator-(const Instant& later, const Instant& earlier)
{
    return MakeSpan(later.seconds - earlier.seconds,
                    static_cast<std::int64_t>(later.nanoseconds) - earlier.nanoseconds);
}

Instant operator+(const Instant& t, const Span& span)
{
    const Span sum = Span{t.seconds, t.nanoseconds} + span;
    return {sum.seconds, sum.nanoseconds};
}

Instant operator-(const Instant& t, const Span& span)
{
    return t + -span;
}

double ToDouble(const Span& span)
{
    return static_cast<double>(span.seconds) + static_cast<double>(span.nanoseconds) / 1e9;
}

double ToDouble(const Instant& t)
{
    return ToDouble(Span{t.seconds, t.nanoseconds});
}

LocalDateTime UtcDateTime(const Instant& t)
{
    return FromSerialSeconds(t.seconds);
}

Instant InstantOfUtc(const LocalDateTime& utc, std::int32_t nanoseconds)
{
    return {ToSerialSeconds(utc), nanoseconds};
}

}  // namespace vel::platform
