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

class VirtualClock : public platform::Clock {
public:
    // The PC clock starts at this local time, on the second, at monotonic 0.
    explicit VirtualClock(platform::LocalDateTime start = {2025, 2, 3, 9, 7, 0});

    // Clock
    platform::LocalTimestamp Now() override;
    double MonotonicSeconds() override { return monotonic_; }
    int GetTimeZoneInformation(platform::TimeZoneInformation& info) override;
    platform::ClockSetResult SetLocalDateTime(const platform::LocalTimestamp& t) override;
    std::string TimeSeparator() override { return timeSeparator; }

    // Moves time on (only the pump and tests do).
    void Advance(double seconds) { monotonic_ += seconds; }

    // The PC clock jumps, as when another program sets it; monotonic time does not.
    void JumpWallClock(double seconds) { wallOffset_ += seconds; }

    // The PC clock as seconds since 1970-01-01 of its local calendar, with fraction.
    double WallSerial() const;

    // Time zone: returned by GetTimeZoneInformation. `zoneRule`, when set,
    // chooses them from the current local time (a daylight-saving change).
    int zoneId = platform::TimeZoneId::Unknown;
    platform::TimeZoneInformation zone;
    std::function<int(const platform::LocalDateTime& now, platform::TimeZoneInformation& info)> zoneRule;

    std::string timeSeparator = ":";

    // Setting the clock: every request is recorded; `setResult` is what it answers.
    std::vector<platform::LocalTimestamp> sets;
    platform::ClockSetResult setResult{true, 0, {}};

private:
    double monotonic_ = 0;
    double wallBase_;      // WallSerial() at monotonic 0
    double wallOffset_ = 0;
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
