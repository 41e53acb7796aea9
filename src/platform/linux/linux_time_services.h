// Whether another program keeps the clock in step: systemd-timedated's
// automatic synchronisation, and the units of the usual time services, asked
// over the system bus. Every answer is bounded and waited for with the event
// loop running (dbus_call.h); a question that gets no answer (or an error
// other than "not there") leaves the matter unknown, and says why.
#pragma once

#include <string>

#include "platform/clock.h"

namespace vel::platform {

struct TimeServiceOptions {
    std::string busAddress;  // a D-Bus address; empty: the system bus
    // Each answer; the first that does not come ends the questions. timedated
    // may have to start first (bus activation), which takes seconds on a
    // slow or busy machine.
    int timeoutMs = 10000;
};

// The units looked at, in this order: systemd-timesyncd, chrony (Debian's
// name and Fedora's), ntpsec, ntp (ntpd) and OpenNTPD.
inline constexpr const char* kTimeServiceUnits[] = {
    "systemd-timesyncd.service", "chrony.service", "chronyd.service", "ntpsec.service", "ntp.service", "ntpd.service",
    "openntpd.service"};

// The first of those units that is active (or starting), or timedated's NTP
// when it is on: named, with the command that turns it off (timedatectl
// set-ntp false where timedated has synchronisation on, else systemctl
// disable --now UNIT). An empty name when none keeps the clock; also when
// the bus cannot be reached or a question got no answer, and then `unknown`
// says which. A service that is not there (timedated, a unit) is an answer.
TimeService FindTimeServiceInCharge(const TimeServiceOptions& options = {});

}  // namespace vel::platform
