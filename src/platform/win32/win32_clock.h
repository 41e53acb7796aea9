// The PC clock and the time zone on Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"

namespace vel::platform {

// An instant: seconds since 1970-01-01 00:00:00 UTC and the nanoseconds
// within that second.
using UtcInstant = Instant;

// What sets the system clock. The program passes SetSystemClock; tests pass
// one that records the call, so that no test ever moves a clock.
using ClockSetter = std::function<ClockSetResult(const UtcInstant&)>;

// Enables the system-time privilege of the process and calls SetSystemTime.
// On failure: the system's error number and its text.
ClockSetResult SetSystemClock(const UtcInstant& instant);

// The system clock's reading now, to the 100 ns where the system has it.
UtcInstant SystemClockNow();

// The failure for a Windows error number, with the system's own text.
ClockSetResult ClockSetFailure(std::uint32_t error);

// FILETIME ticks (100 ns since 1601-01-01 UTC) and instants.
std::uint64_t InstantToFileTimeTicks(const UtcInstant& instant);
UtcInstant FileTimeTicksToInstant(std::uint64_t ticks);

class Win32Clock : public Clock {
public:
    // privilegeFix: what would let the program set the clock when the setter
    // is refused for want of the right (error 1314), for the log.
    explicit Win32Clock(ClockSetter setter, std::string privilegeFix = {})
        : setter_(std::move(setter)), privilegeFix_(std::move(privilegeFix))
    {}

    // GetSystemTimePreciseAsFileTime (where the system has it), the local
    // time by the time-zone rules for that instant, and UtcOffsetSeconds.
    ClockReading Read() override;
    // QueryPerformanceCounter.
    double MonotonicSeconds() override;
    // Hands the instant to the setter; a refusal for want of the right
    // carries the fix.
    ClockSetResult SetTime(const Instant& utc) override;
    // LOCALE_STIME of the user's locale.
    // None: the Windows Time service runs on most machines, and setting the
    // clock where it keeps it is what this program is installed for.
    TimeService TimeServiceInCharge() override { return {}; }

    // The local date and time of an instant by the zone's rules for it;
    // false when the system cannot show that instant.
    static bool LocalOf(const Instant& instant, LocalTimestamp& local);

    // Local time minus UTC now, from GetTimeZoneInformation: the bias of the
    // part of the year in force (standard where the zone has no daylight
    // time, 0 where the system cannot say), in seconds.
    static std::int32_t UtcOffsetSeconds();

private:
    ClockSetter setter_;
    std::string privilegeFix_;
};

}  // namespace vel::platform
