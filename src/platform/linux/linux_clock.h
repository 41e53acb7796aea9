// The PC clock and the time zone on Linux.
#pragma once

#include "platform/clock.h"

namespace vel::platform {

class LinuxClock : public Clock {
public:
    LocalTimestamp Now() override;
    double MonotonicSeconds() override;
    int GetTimeZoneInformation(TimeZoneInformation& info) override;
    ClockSetResult SetLocalDateTime(const LocalTimestamp& t) override;
    std::string TimeSeparator() override;
};

}  // namespace vel::platform
