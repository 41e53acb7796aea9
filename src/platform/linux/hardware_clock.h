// The hardware clock (the RTC), kept with the system clock by the machine's
// run where it keeps UTC: set through the device's RTC_SET_TIME right after
// the system clock was set, so that the next boot starts from the right
// time. A hardware clock that keeps local time (a machine that also starts
// Windows) is left to whoever keeps it so.
#pragma once

#include <functional>
#include <string>

#include "platform/instant.h"

namespace vel::platform {

struct HardwareClockFiles {
    std::string device = "/dev/rtc0";
    std::string adjtime = "/etc/adjtime";  // its third line: UTC or LOCAL
};

// Whether /etc/adjtime's text says the hardware clock keeps local time (its
// third line "LOCAL"); missing or anything else: UTC.
bool KeepsLocalTime(const std::string& adjtimeText);

// The UTC date and time `utc` names (its whole second) given to the device
// open as `fd`: 0, or the errno of the refusal. The real one is the ioctl.
using RtcSetter = std::function<int(int fd, const LocalDateTime& utc)>;
int SetRtcByIoctl(int fd, const LocalDateTime& utc);

// The hardware clock set to `utc` (a whole second) where it keeps UTC; the
// line the log gets: what was done, or why not ("WARNING: ..." where it
// failed).
std::string SetHardwareClock(const Instant& utc, const HardwareClockFiles& files = {},
                             const RtcSetter& setter = SetRtcByIoctl);

// After clock_settime: waits for the next second of the system clock to
// begin and sets the hardware clock to it (SetHardwareClock).
std::string SetHardwareClockFromSystemClock(const HardwareClockFiles& files = {});

}  // namespace vel::platform
