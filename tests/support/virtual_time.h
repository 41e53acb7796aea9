// Virtual time for behaviour tests: a clock and an event pump that jump to the
// next scripted event, so a 134-second dial wait takes microseconds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/event_pump.h"

namespace vel::test {

// The PC's offset from UTC at an instant: local time minus UTC in seconds.
using Zone = std::function<std::int32_t(const platform::Instant& utc)>;

// The same offset at every instant; UTC.
Zone FixedZone(std::int32_t utcOffsetSeconds);
Zone UtcZone();
// A zone of the tz database ("Europe/Berlin"), read through the C library.
Zone TzZone(const std::string& name);
// Every zone name of the tz database on this machine (from its zone1970.tab).
std::vector<std::string> TzZoneNames();

class VirtualClock : public platform::Clock {
public:
    // The PC clock shows this local time, on the second, at monotonic 0.
    explicit VirtualClock(platform::LocalDateTime start = {2025, 2, 3, 9, 7, 0}, Zone zone = UtcZone());

    // Clock
    platform::ClockReading Read() override;
    double MonotonicSeconds() override { return monotonic_; }
    platform::ClockSetResult SetTime(const platform::Instant& utc) override;
    platform::TimeService TimeServiceInCharge() override
    {
        ++timeServiceQuestions;
        return timeService;
    }

    // Moves time on (only the pump and tests do).
    void Advance(double seconds) { monotonic_ += seconds; }

    // The PC clock jumps, as when another program sets it; monotonic time does not.
    void JumpWallClock(double seconds);
    // The PC clock now shows this instant (a local time may be ambiguous).
    void SetNowUtc(const platform::Instant& utc);

    // The PC clock now: its instant, that instant in seconds since 1970, and
    // its local reading as seconds since 1970-01-01 of its local calendar.
    platform::Instant NowUtc() const;
    double UtcSerial() const { return platform::ToDouble(NowUtc()); }
    double WallSerial() const;

    // The local date and time the PC shows at an instant, and its offset then
    // (an absurd one, beyond a day off UTC, held at a day).
    platform::LocalTimestamp LocalAt(const platform::Instant& utc) const;
    std::int32_t OffsetAt(const platform::Instant& utc) const;

    // Another time zone. The PC clock goes on showing the same local time: a
    // test says what the PC shows, in the zone it names.
    void SetZone(Zone zone);
    void SetUtcOffset(std::int32_t seconds) { SetZone(FixedZone(seconds)); }

    std::string timeSeparator = ":";

    // Setting the clock: every request is recorded; `setResult` is what it answers.
    std::vector<platform::Instant> sets;
    platform::ClockSetResult setResult{true, 0, {}};
    // Who keeps the clock besides us (an empty name: nobody), and how often
    // that was asked.
    platform::TimeService timeService;
    int timeServiceQuestions = 0;

private:
    double monotonic_ = 0;
    platform::Instant base_;  // the PC clock's instant at monotonic 0, jumps and settings included
    Zone zone_;
};

class VirtualPump : public platform::EventPump {
public:
    explicit VirtualPump(VirtualClock& clock) : clock_(clock) {}

    // EventPump
    void DoEvents() override;
    void WaitForEvents(double maxSeconds) override;
    void Post(std::function<void()> task) override;
    void Wake() override { ++wakes_; }

    // Schedules a task at a monotonic time, or `delay` seconds from now.
    void At(double monotonicTime, std::function<void()> task);
    void After(double delay, std::function<void()> task) { At(clock_.MonotonicSeconds() + delay, std::move(task)); }

    // Runs every task due until `seconds` of virtual time have passed.
    void RunFor(double seconds);

    bool HasPendingTasks() const { return !tasks_.empty(); }
    int DoEventsCalls() const { return doEventsCalls_; }
    int WaitCalls() const { return waitCalls_; }

    // A wait longer than this with nothing scheduled is a test that forgot to
    // script an event: it fails instead of hanging.
    double maxIdleWait = 100000.0;

private:
    bool RunDue();
    VirtualClock& clock_;
    std::multimap<double, std::function<void()>> tasks_;  // by time, in order of scheduling
    int doEventsCalls_ = 0;
    int waitCalls_ = 0;
    int wakes_ = 0;
};

// Thrown by a wait that would never end in a test.
struct EndlessWait : std::logic_error {
    using std::logic_error::logic_error;
};

}  // namespace vel::test
