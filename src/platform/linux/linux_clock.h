// The PC clock and the time zone on Linux.
#pragma once

#include <ctime>
#include <optional>

#include "platform/clock.h"

namespace vel::platform {

// The local date-time as UTC seconds and nanoseconds, under the process's time
// zone (mktime, daylight saving decided by the date itself). nullopt when the
// date-time cannot be represented.
std::optional<timespec> LocalToUtc(const LocalTimestamp& t);

class LinuxClock : public Clock {
public:
    LocalTimestamp Now() override;
    double MonotonicSeconds() override;
    int GetTimeZoneInformation(TimeZoneInformation& info) override;
    // clock_settime(CLOCK_REALTIME); without the right to (EPERM), asks
    // systemd-timedated over the system bus, which lets polkit ask the user;
    // the event loop runs meanwhile (linux_timedated.h).
    ClockSetResult SetLocalDateTime(const LocalTimestamp& t) override;
    std::string TimeSeparator() override;
};

}  // namespace vel::platform
