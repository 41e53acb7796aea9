// The PC clock, the time zone and elapsed time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/local_date_time.h"

namespace vel::platform {

// A local reading with its fraction: what a precise correction starts from.
struct LocalTimestamp {
    LocalDateTime time;     // local calendar date and time of day, whole seconds
    std::int32_t nanoseconds = 0;  // 0 .. 999999999 within that second
};

// The Windows TIME_ZONE_INFORMATION fields we read: minutes, UTC = local + bias.
struct TimeZoneInformation {
    std::int32_t Bias = 0;
    std::int32_t StandardBias = 0;
    std::int32_t DaylightBias = 0;
};

// Which part of the year the time-zone record says is in force now.
namespace TimeZoneId {
enum : int {
    Invalid = -1,
    Unknown = 0,
    Standard = 1,
    Daylight = 2,
};
}  // namespace TimeZoneId

struct ClockSetResult {
    bool ok = false;
    int errorNumber = 0;        // errno (or the platform's own number) when !ok
    std::string description;    // a sentence for the log when !ok
};

class Clock {
public:
    virtual ~Clock() = default;

    // The PC's local date and time now, with its fraction of a second.
    virtual LocalTimestamp Now() = 0;

    // Seconds on a clock that never jumps (not the time of day): every elapsed
    // time and every time-out is measured on this one.
    virtual double MonotonicSeconds() = 0;

    // Fills `info` (cleared first) and returns one of the TimeZoneId values.
    virtual int GetTimeZoneInformation(TimeZoneInformation& info) = 0;

    // Sets the local date and time of day in one operation, so that the setting
    // cannot straddle midnight. The fraction is kept.
    virtual ClockSetResult SetLocalDateTime(const LocalTimestamp& t) = 0;

    // The locale's separator between hours and minutes (":" in most locales).
    virtual std::string TimeSeparator() = 0;
};

}  // namespace vel::platform
