// The PC clock and the time zone on Linux.
#pragma once

#include <ctime>
#include <optional>

#include "platform/clock.h"

namespace vel::platform {

// The local date and time of an instant under the process's time zone
// (localtime_r: the offset in force at that instant). nullopt when the C
// library cannot represent it.
std::optional<LocalTimestamp> LocalOf(const Instant& t);

class LinuxClock : public Clock {
public:
    ClockReading Read() override;
    double MonotonicSeconds() override;
    int GetTimeZoneInformation(TimeZoneInformation& info) override;
    // clock_settime(CLOCK_REALTIME); without the right to (EPERM), asks
    // systemd-timedated over the system bus, which lets polkit ask the user;
    // the event loop runs meanwhile (linux_timedated.h).
    ClockSetResult SetTime(const Instant& utc) override;
    std::string TimeSeparator() override;
};

}  // namespace vel::platform
