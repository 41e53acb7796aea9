// The part of a machine run that keeps CAP_SYS_TIME (privilege_split.h): it
// reads nothing from the network and believes nothing the network part
// parsed. It takes requests (clock_messages.h), holds them to the rules it
// can check on its own, sets the clock and answers.
#pragma once

#include <optional>
#include <string>

#include "platform/instant.h"
#include "platform/linux/clock_messages.h"

namespace vel::platform {

// The instants this program ever sets: earliest <= t < end.
struct ClockBounds {
    Instant earliest;
    Instant end;
};

// From the first day of the year this release was made (no clock honestly
// reads earlier; a server or a network that names 1999 or 1970 is wrong) to
// the end of 2099 (the last year a NIST answer can name: it has two digits).
ClockBounds SettableTimes();

// What can be checked without trusting the network part: one setting of the
// system clock per run, and a clock that lands within the bounds. How far a
// step may go cannot be checked here: a clock years off is set honestly once
// two sources agree, and whether they did is the network part's word.
class ClockRequestRules {
public:
    explicit ClockRequestRules(ClockBounds bounds) : bounds_(bounds) {}

    // The instant to set for a request made at `now`, or nullopt with the
    // refusal in `refusal`. An instant given counts as the run's one setting
    // of its kind, whatever comes of it.
    std::optional<Instant> Allow(const ClockRequest& request, const Instant& now, ClockAnswer& refusal);

private:
    ClockBounds bounds_;
    bool systemClockAsked_ = false;
};

// The clock as the part that keeps the right sees it; tests give their own.
class ClockAccess {
public:
    virtual ~ClockAccess() = default;
    virtual Instant Now() = 0;                // CLOCK_REALTIME
    virtual int Set(const Instant& utc) = 0;  // 0, else the errno
};

// clock_gettime and clock_settime of CLOCK_REALTIME.
class SystemClockAccess : public ClockAccess {
public:
    Instant Now() override;
    int Set(const Instant& utc) override;
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
