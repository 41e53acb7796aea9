// Instants on the UTC time scale and spans between them, to the nanosecond.
#pragma once

#include <compare>
#include <cstdint>

#include "platform/local_date_time.h"

namespace vel::platform {

// A span of time: seconds + nanoseconds / 1e9, the nanoseconds always
// 0 .. 999999999 (so -0.25 s is {-1, 750000000}). Whole seconds in 64 bits:
// a PC clock centuries off does not overflow.
struct Span {
    std::int64_t seconds = 0;
    std::int32_t nanoseconds = 0;

    friend auto operator<=>(const Span&, const Span&) = default;
};

// An instant: the span since 1970-01-01 00:00:00 UTC.
struct Instant {
    std::int64_t seconds = 0;
    std::int32_t nanoseconds = 0;  // 0 .. 999999999

    friend auto operator<=>(const Instant&, const Instant&) = default;
};

// seconds + nanoseconds, with nanoseconds of any size and sign.
Span MakeSpan(std::int64_t seconds, std::int64_t nanoseconds);
inline Span Seconds(std::int64_t seconds)
{
    return {seconds, 0};
}

Span operator-(const Span& span);
Span operator+(const Span& a, const Span& b);
Span operator-(const Span& a, const Span& b);
Span operator-(const Instant& later, const Instant& earlier);
Instant operator+(const Instant& t, const Span& span);
Instant operator-(const Instant& t, const Span& span);

// For reports and tests only: a double loses nanoseconds beyond a few days.
double ToDouble(const Span& span);
double ToDouble(const Instant& t);

// The UTC calendar date and time of an instant (the fraction dropped), and the
// instant of a UTC calendar date-time.
LocalDateTime UtcDateTime(const Instant& t);
Instant InstantOfUtc(const LocalDateTime& utc, std::int32_t nanoseconds = 0);

}  // namespace vel::platform
