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

class ClockPartLink;

class LinuxClock : public Clock {
public:
    // machine: the machine's run, which only the system service may make
    // set the clock (the fix a refusal names). clockPart: where this process
    // gave its right to set the clock to a part of its own
    // (privilege_split.h), which then sets it; null: this process itself.
    explicit LinuxClock(bool machine = false, ClockPartLink* clockPart = nullptr)
        : machine_(machine), clockPart_(clockPart)
    {}

    // The offset is localtime_r's tm_gmtoff at the instant read.
    ClockReading Read() override;
    double MonotonicSeconds() override;
    // clock_settime(CLOCK_REALTIME), or the step to it asked of the part that
    // holds the right; without the right to (EPERM), asks
    // systemd-timedated over the system bus, which lets polkit ask the user;
    // the event loop runs meanwhile (linux_timedated.h). A refusal names the
    // fix (SetTimeRemedy).
    ClockSetResult SetTime(const Instant& utc) override;
    // timedated's automatic synchronisation and the time services' units
    // (linux_time_services.h).
    TimeService TimeServiceInCharge() override;

private:
    bool machine_;
    ClockPartLink* clockPart_;
};

// What would let the program set the clock, after clock_settime was refused
// (EPERM) and then timedated too with the D-Bus error `timedatedError`, for
// `user`: the group veltrane or the machine's timer where polkit said no,
// the system service for the machine's run, automatic synchronisation
// turned off where timedated refused for it. Empty where none is known.
std::string SetTimeRemedy(const std::string& timedatedError, const std::string& user, bool machine);

}  // namespace vel::platform
