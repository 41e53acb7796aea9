// The part of a machine run that keeps CAP_SYS_TIME (privilege_split.h): it
// reads nothing from the network and believes nothing the network part
// parsed. It takes requests (common/clock_request.h), holds them to the rules it
// can check on its own, sets the clock and answers.
#pragma once

#include <string>

#include "common/clock_request.h"
#include "platform/instant.h"

namespace vel::platform {

// The clock as the part that keeps the right sees it; tests give their own.
class ClockAccess {
public:
    virtual ~ClockAccess() = default;
    virtual Instant Now() = 0;                // CLOCK_REALTIME
    virtual int Set(const Instant& utc) = 0;  // 0, else the errno
    // After a setting: the hardware clock kept with it; the log's line on it
    // (empty: nothing to say).
    virtual std::string KeepHardwareClock() { return {}; }
};

// clock_gettime and clock_settime of CLOCK_REALTIME.
class SystemClockAccess : public ClockAccess {
public:
    Instant Now() override;
    int Set(const Instant& utc) override;
    std::string KeepHardwareClock() override;
};

// The log's text for a refused clock_settime: "clock_settime: operation not
// permitted".
std::string ClockSetErrorText(int errorNumber);

// Answers the requests that arrive on `fd` (one end of a SOCK_SEQPACKET pair)
// one by one. Returns 0 when the other end has closed it; 1 after a message
// that is no request, left unanswered, and 2 when the socket failed: why in
// `fault`.
int ServeClockRequests(int fd, ClockAccess& clock, ClockRequestRules& rules, std::string& fault);

}  // namespace vel::platform
