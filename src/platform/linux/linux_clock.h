// The PC clock and the time zone on Linux.
#pragma once

#include <ctime>
#include <optional>

#include "platform/clock.h"
#include "platform/linux/linux_session.h"

namespace vel::platform {

// The local date and time of an instant under the process's time zone
// (localtime_r: the offset in force at that instant). nullopt when the C
// library cannot represent it.
std::optional<LocalTimestamp> LocalOf(const Instant& t);

class LinuxClock : public Clock {
public:
    // machine: the machine's run, which only the system service may make
    // set the clock (the fix a refusal names).
    explicit LinuxClock(bool machine = false) : machine_(machine) {}

    // The offset is localtime_r's tm_gmtoff at the instant read.
    ClockReading Read() override;
    double MonotonicSeconds() override;
    // clock_settime(CLOCK_REALTIME); without the right to (EPERM), a user's
    // run has the machine's run set it where polkit lets the user start that
    // (linux_machine_run.h), or else asks systemd-timedated over the system
    // bus, which lets polkit ask the user; the event loop runs meanwhile
    // (linux_timedated.h). A refusal names the fix (SetTimeRemedy).
    ClockSetResult SetTime(const Instant& utc) override;
    // timedated's automatic synchronisation and the time services' units
    // (linux_time_services.h).
    TimeService TimeServiceInCharge() override;

private:
    bool machine_;
};

// The group whose members may have the clock set without a password (the
// package's polkit rule lets them start the machine's run).
inline constexpr const char* kClockGroup = "veltrane";

// Who asked for the clock to be set, as polkit weighs it.
struct Requester {
    std::string user;     // the user's name
    bool member = false;  // of the group veltrane, by the group database
    SessionKind session = SessionKind::Unknown;
};

// Whether timedated refused for want of leave (polkit said no, or would
// have asked for a password that nobody could give).
bool IsPermissionRefusal(const std::string& timedatedError);

// What would let the program set the clock, after clock_settime was refused
// (EPERM), the machine's run could not be started, and timedated refused
// with the D-Bus error `timedatedError`: for the machine's run, the system
// service; where timedated refused for its automatic synchronisation, that
// turned off; where polkit said no, for someone outside the group veltrane
// the group (or the machine's timer), for a member why their session does
// not qualify (remote, not in front, none). Empty where none is known.
std::string SetTimeRemedy(const std::string& timedatedError, const Requester& who, bool machine);

}  // namespace vel::platform
