// The PC clock and the time zone on Windows.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/clock.h"

namespace vel::platform {

// An instant: seconds since 1970-01-01 00:00:00 UTC and the nanoseconds
// within that second.
struct UtcInstant {
    std::int64_t seconds = 0;
    std::int32_t nanoseconds = 0;
};

// What sets the system clock. The program passes SetSystemClock; tests pass
// one that records the call, so that no test ever moves a clock.
using ClockSetter = std::function<ClockSetResult(const UtcInstant&)>;

// Enables the system-time privilege of the process and calls SetSystemTime.
// On failure: the system's error number and its text.
ClockSetResult SetSystemClock(const UtcInstant& instant);

// The failure for a Windows error number, with the system's own text.
ClockSetResult ClockSetFailure(std::uint32_t error);

// FILETIME ticks (100 ns since 1601-01-01 UTC) and instants.
std::uint64_t InstantToFileTimeTicks(const UtcInstant& instant);
UtcInstant FileTimeTicksToInstant(std::uint64_t ticks);

class Win32Clock : public Clock {
public:
    explicit Win32Clock(ClockSetter setter) : setter_(std::move(setter)) {}

    // GetSystemTimePreciseAsFileTime (where the system has it), in local time
    // by the time-zone rules for that instant.
    LocalTimestamp Now() override;
    // QueryPerformanceCounter.
    double MonotonicSeconds() override;
    int GetTimeZoneInformation(TimeZoneInformation& info) override;
    // The local date-time as an instant under the zone's rules for that date,
    // handed to the setter.
    ClockSetResult SetLocalDateTime(const LocalTimestamp& t) override;
    // LOCALE_STIME of the user's locale.
    std::string TimeSeparator() override;

    // The local date-time as an instant; false when it is no valid date-time.
    static bool LocalToInstant(const LocalTimestamp& t, UtcInstant& instant);

private:
    ClockSetter setter_;
};

}  // namespace vel::platform
