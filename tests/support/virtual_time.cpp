#include "support/virtual_time.h"

#include <algorithm>
#include <cmath>

namespace vel::test {

namespace {

platform::Span SpanOf(double seconds)
{
    const double whole = std::floor(seconds);
    return platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((seconds - whole) * 1e9));
}

}  // namespace

Zone FixedZone(std::int32_t utcOffsetSeconds)
{
    return [utcOffsetSeconds](const platform::Instant&) { return utcOffsetSeconds; };
}

Zone UtcZone()
{
    return FixedZone(0);
}

std::int32_t VirtualClock::OffsetAt(const platform::Instant& utc) const
{
    constexpr std::int32_t kDay = 86400;
    const std::int32_t seconds = zone_(utc);
    return seconds > kDay ? kDay : seconds < -kDay ? -kDay : seconds;
}

VirtualClock::VirtualClock(platform::LocalDateTime start, Zone zone)
    : base_{platform::ToSerialSeconds(start), 0}, zone_(UtcZone())
{
    SetZone(std::move(zone));
}

platform::Instant VirtualClock::NowUtc() const
{
    return base_ + SpanOf(monotonic_);
}

platform::LocalTimestamp VirtualClock::LocalAt(const platform::Instant& utc) const
{
    return {platform::FromSerialSeconds(utc.seconds + OffsetAt(utc)), utc.nanoseconds};
}

double VirtualClock::WallSerial() const
{
    const platform::Instant now = NowUtc();
    return platform::ToDouble(now) + OffsetAt(now);
}

void VirtualClock::JumpWallClock(double seconds)
{
    base_ = base_ + SpanOf(seconds);
}

void VirtualClock::SetNowUtc(const platform::Instant& utc)
{
    base_ = utc - SpanOf(monotonic_);
}

void VirtualClock::SetZone(Zone zone)
{
    // The instant whose local time in the new zone is the local time shown
    // now: local - offset, the offset taken where that lands (twice, for the
    // hours around a change of offset).
    const platform::LocalTimestamp shown = LocalAt(NowUtc());
    zone_ = std::move(zone);
    const platform::Instant local{platform::ToSerialSeconds(shown.time), shown.nanoseconds};
    platform::Instant now = local - platform::Seconds(OffsetAt(local));
    now = local - platform::Seconds(OffsetAt(now));
    now = local - platform::Seconds(OffsetAt(now));
    SetNowUtc(now);
}

platform::ClockReading VirtualClock::Read()
{
    // The zone's own answer, as a system would give it, absurd or not.
    const platform::Instant now = NowUtc();
    return {now, LocalAt(now), zone_(now), timeSeparator};
}

platform::ClockSetResult VirtualClock::SetTime(const platform::Instant& utc)
{
    sets.push_back(utc);
    if (setResult.ok)
        SetNowUtc(utc);
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
    // it on to the next reading, or a caller that waits for the rest of a
    // second would wait for ever at fractional readings (also where doubles
    // are reckoned wider than they are kept, as on x87: `deadline` may lie
    // between two of them).
    const double now = clock_.MonotonicSeconds();
    const double target = maxSeconds > 0 ? std::max(deadline, std::nextafter(now, HUGE_VAL)) : deadline;
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
