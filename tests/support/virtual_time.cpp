#include "support/virtual_time.h"

#include <cmath>

namespace vel::test {

VirtualClock::VirtualClock(platform::LocalDateTime start)
    : wallBase_(static_cast<double>(platform::ToSerialSeconds(start)))
{
}

double VirtualClock::WallSerial() const
{
    return wallBase_ + wallOffset_ + monotonic_;
}

platform::LocalTimestamp VirtualClock::Now()
{
    const double serial = WallSerial();
    const double whole = std::floor(serial);
    platform::LocalTimestamp t;
    t.time = platform::FromSerialSeconds(static_cast<std::int64_t>(whole));
    t.nanoseconds = static_cast<std::int32_t>(std::lround((serial - whole) * 1e9));
    if (t.nanoseconds >= 1000000000) {
        t.nanoseconds -= 1000000000;
        t.time = platform::AddSeconds(t.time, 1);
    }
    return t;
}

int VirtualClock::GetTimeZoneInformation(platform::TimeZoneInformation& info)
{
    info = {};
    if (zoneRule)
        return zoneRule(Now().time, info);
    info = zone;
    return zoneId;
}

platform::ClockSetResult VirtualClock::SetLocalDateTime(const platform::LocalTimestamp& t)
{
    sets.push_back(t);
    if (!setResult.ok)
        return setResult;
    const double target = static_cast<double>(platform::ToSerialSeconds(t.time)) + t.nanoseconds / 1e9;
    wallOffset_ += target - WallSerial();
    return setResult;
}

bool VirtualPump::RunDue()
{
    bool ran = false;
    // Tasks posted or scheduled by a task for now run in the same pass.
    for (int guard = 0; guard < 100000; ++guard) {
        auto it = tasks_.begin();
        if (it == tasks_.end() || it->first > clock_.MonotonicSeconds())
            return ran;
        auto task = std::move(it->second);
        tasks_.erase(it);
        task();
        ran = true;
    }
    throw EndlessWait("tasks keep scheduling themselves for the same instant");
}

void VirtualPump::DoEvents()
{
    ++doEventsCalls_;
    RunDue();
}

void VirtualPump::WaitForEvents(double maxSeconds)
{
    ++waitCalls_;
    if (RunDue())
        return;
    const double deadline = clock_.MonotonicSeconds() + std::max(0.0, maxSeconds);
    auto next = tasks_.begin();
    if (next != tasks_.end() && next->first <= deadline) {
        clock_.Advance(next->first - clock_.MonotonicSeconds());
        RunDue();
        return;
    }
    if (maxSeconds > maxIdleWait)
        throw EndlessWait("a wait with nothing scheduled would never end");
    // A wait shorter than the clock's resolution at this reading still moves
    // it on, or a caller that waits for the rest of a second would wait for
    // ever at fractional readings.
    const double now = clock_.MonotonicSeconds();
    const double target = maxSeconds > 0 && deadline <= now ? std::nextafter(now, deadline + 1) : deadline;
    clock_.Advance(target - now);
}

void VirtualPump::Post(std::function<void()> task)
{
    At(clock_.MonotonicSeconds(), std::move(task));
}

void VirtualPump::At(double monotonicTime, std::function<void()> task)
{
    // upper_bound keeps tasks of one instant in the order they were scheduled.
    tasks_.insert(tasks_.upper_bound(monotonicTime), {monotonicTime, std::move(task)});
}

void VirtualPump::RunFor(double seconds)
{
    const double end = clock_.MonotonicSeconds() + seconds;
    for (;;) {
        RunDue();
        auto next = tasks_.begin();
        if (next == tasks_.end() || next->first > end)
            break;
        clock_.Advance(next->first - clock_.MonotonicSeconds());
    }
    clock_.Advance(end - clock_.MonotonicSeconds());
}

}  // namespace vel::test
