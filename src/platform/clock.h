// The PC clock, its offset from UTC and elapsed time.
#pragma once

#include <cstdint>
#include <string>

#include "platform/instant.h"
#include "platform/local_date_time.h"

namespace vel::platform {

// A local reading with its fraction: what a precise correction starts from.
struct LocalTimestamp {
    LocalDateTime time;            // local calendar date and time of day, whole seconds
    std::int32_t nanoseconds = 0;  // 0 .. 999999999 within that second
};

// One reading of the PC clock: the instant, the local date and time the PC
// shows at that instant, the offset from UTC in force then, and how the
// user's locale writes a time.
struct ClockReading {
    Instant utc;
    LocalTimestamp local;
    std::int32_t utcOffsetSeconds = 0;  // local time minus UTC, exactly; 0 when the system has no answer
    std::string timeSeparator = ":";    // the locale's, between hours and minutes
};

struct ClockSetResult {
    bool ok = false;
    int errorNumber = 0;      // errno (or the platform's own number) when !ok
    std::string description;  // a sentence for the log when !ok
    // When !ok, what would let the program set it, in plain words; often
    // empty (`= {}`: a brace initialiser may leave it out).
    std::string remedy = {};
    // When ok and another program set it for us, which and how, for the log.
    std::string setBy = {};
    // When ok, a line for the log after the setting's own: what became of
    // the hardware clock (empty: nothing to say).
    std::string hardwareClock = {};
};

// Another program that keeps the clock (automatic time synchronisation).
struct TimeService {
    std::string name;     // as the system knows it ("systemd-timesyncd.service"); empty: none does
    std::string turnOff;  // the command that leaves the clock to this program ("timedatectl set-ntp false")
    // Why the system could not say whether one does (the bus cannot be
    // reached, a service did not answer); empty where it said. The name is
    // then empty.
    std::string unknown = {};
};

class Clock {
public:
    virtual ~Clock() = default;

    // Reads the PC clock once, to the nanosecond where the platform allows.
    virtual ClockReading Read() = 0;

    // The PC's local date and time now, with its fraction of a second.
    LocalTimestamp Now() { return Read().local; }

    // Seconds on a clock that never jumps (not the time of day): every elapsed
    // time and every time-out is measured on this one.
    virtual double MonotonicSeconds() = 0;

    // Sets the PC clock to an instant, in one operation. An instant, not a
    // local wall time: near a change of daylight saving a wall time may not
    // exist or may exist twice, and a date and a time set apart could
    // straddle midnight.
    virtual ClockSetResult SetTime(const Instant& utc) = 0;

    // The service that keeps the clock in step now, which a setting of ours
    // would fight; an empty name when none does, or when the system could
    // not say within a few seconds (then `unknown` says why). The event loop
    // may run meanwhile.
    virtual TimeService TimeServiceInCharge() = 0;
};

}  // namespace vel::platform
