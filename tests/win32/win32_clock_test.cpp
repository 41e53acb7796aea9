// The Win32 clock. Setting goes to a recording setter: no test moves a clock.
// scripts/test-windows.sh runs these once with TZ=Asia/Kolkata (no daylight
// saving, UTC+5:30) and once with TZ=Europe/Berlin; the zone's own checks run
// in the zone they are for.
#include "platform/win32/win32_clock.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "app/app.h"
#include "support/test_app.h"
#include "platform/win32/win32_text.h"
#include "timesource/time_zone.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

struct RecordingSetter {
    std::vector<UtcInstant> calls;
    ClockSetResult answer{true, 0, {}};
    ClockSetter Setter()
    {
        return [this](const UtcInstant& instant) {
            calls.push_back(instant);
            return answer;
        };
    }
};

std::int64_t UtcSecondsNow()
{
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    return FileTimeTicksToInstant(static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime).seconds;
}

TEST(Win32Clock, FileTimeTicksAndInstants)
{
    // 2024-04-11 15:30:02.5 UTC.
    const UtcInstant instant{1712849402, 500000000};
    const std::uint64_t ticks = InstantToFileTimeTicks(instant);
    EXPECT_EQ(ticks, 133573230025000000ULL);
    const UtcInstant back = FileTimeTicksToInstant(ticks);
    EXPECT_EQ(back.seconds, instant.seconds);
    EXPECT_EQ(back.nanoseconds, instant.nanoseconds);
    const UtcInstant epoch = FileTimeTicksToInstant(116444736000000000ULL);
    EXPECT_EQ(epoch.seconds, 0);
    EXPECT_EQ(epoch.nanoseconds, 0);
}

TEST(Win32Clock, AReadingIsTheSystemsTimeWithItsFraction)
{
    Win32Clock clock(nullptr);
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    const std::int64_t utcBefore = UtcSecondsNow();
    const ClockReading reading = clock.Read();
    const LocalTimestamp now = reading.local;
    EXPECT_GE(reading.utc.seconds, utcBefore);
    EXPECT_LE(reading.utc.seconds, utcBefore + 1);
    EXPECT_EQ(reading.local.nanoseconds, reading.utc.nanoseconds);
    const LocalDateTime system{before.wYear, before.wMonth, before.wDay, before.wHour, before.wMinute, before.wSecond};
    const std::int64_t apart = DiffSeconds(now.time, system);
    EXPECT_GE(apart, 0);
    EXPECT_LE(apart, 1);
    EXPECT_GE(now.nanoseconds, 0);
    EXPECT_LE(now.nanoseconds, 999999999);
}

TEST(Win32Clock, MonotonicSecondsFollowElapsedTime)
{
    Win32Clock clock(nullptr);
    const double start = clock.MonotonicSeconds();
    ::Sleep(200);
    const double elapsed = clock.MonotonicSeconds() - start;
    EXPECT_GE(elapsed, 0.19);
    EXPECT_LT(elapsed, 1.0);
}

TEST(Win32Clock, SettingHandsTheSetterTheInstant)
{
    RecordingSetter setter;
    Win32Clock clock(setter.Setter());
    // As a correction does: the current reading less 95 seconds, fraction kept.
    Instant target = clock.Read().utc - Seconds(95);
    target.nanoseconds = 123456700;
    const std::int64_t expected = UtcSecondsNow() - 95;
    const ClockSetResult result = clock.SetTime(target);
    EXPECT_TRUE(result.ok);
    ASSERT_EQ(setter.calls.size(), 1u);
    EXPECT_NEAR(static_cast<double>(setter.calls[0].seconds), static_cast<double>(expected), 2.0);
    EXPECT_EQ(setter.calls[0].nanoseconds, 123456700);
}

TEST(Win32Clock, TheSettersFailureIsReportedAsItIs)
{
    RecordingSetter setter;
    setter.answer = ClockSetFailure(ERROR_PRIVILEGE_NOT_HELD);
    Win32Clock clock(setter.Setter());
    const ClockSetResult result = clock.SetTime(clock.Read().utc);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorNumber, 1314);
    EXPECT_EQ(result.description, SystemErrorText(1314));
    EXPECT_FALSE(result.description.empty());
}

TEST(Win32Clock, ATimeThatIsNoTimeNeverReachesTheSetter)
{
    RecordingSetter setter;
    Win32Clock clock(setter.Setter());
    for (const Instant bad : {Instant{1712849402, 1000000000}, Instant{1712849402, -1}, Instant{-1, 0}}) {
        const ClockSetResult result = clock.SetTime(bad);
        EXPECT_FALSE(result.ok) << bad.seconds << " " << bad.nanoseconds;
        EXPECT_EQ(result.errorNumber, ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(setter.calls.empty());
    // Without a setter nothing is set either.
    Win32Clock none(nullptr);
    EXPECT_FALSE(none.SetTime(none.Read().utc).ok);
}

// ---- In the zones the test script runs them in ------------------------------

TEST(Win32ClockInKolkata, HalfHourZoneWithoutDaylightSaving)
{
    if (test::TestVariable("TZ") != "Asia/Kolkata")
        GTEST_SKIP() << "for TZ=Asia/Kolkata";
    Win32Clock clock(nullptr);
    EXPECT_EQ(clock.Read().utcOffsetSeconds, 19800);  // +5:30, to the minute
    test::TestApp t;
    App app{Platform{clock, t.pump, t.env, t.profile, t.windows, t.socket, t.dialUp, t.shell, t.datagram}};
    EXPECT_EQ(GetTimeZoneOffsetSeconds(app), 19800);
    // 11:00:02 UTC is 16:30:02 local.
    LocalTimestamp local;
    ASSERT_TRUE(Win32Clock::LocalOf({1712833202, 5}, local));
    EXPECT_EQ(ToIsoText(local.time), ToIsoText({2024, 4, 11, 16, 30, 2}));
    EXPECT_EQ(local.nanoseconds, 5);
}

TEST(Win32ClockInBerlin, DaylightSavingDecidedByTheDate)
{
    if (test::TestVariable("TZ") != "Europe/Berlin")
        GTEST_SKIP() << "for TZ=Europe/Berlin";
    Win32Clock clock(nullptr);
    // +1 in winter, +2 in summer: the part of the year in force today.
    const ClockReading now = clock.Read();
    EXPECT_TRUE(now.utcOffsetSeconds == 3600 || now.utcOffsetSeconds == 7200) << now.utcOffsetSeconds;
    EXPECT_EQ(ToIsoText(AddSeconds(UtcDateTime(now.utc), now.utcOffsetSeconds)), ToIsoText(now.local.time));
    // Summer: UTC+2; winter: UTC+1; whatever the date is today.
    LocalTimestamp summer, winter;
    ASSERT_TRUE(Win32Clock::LocalOf({1719828000, 0}, summer));  // 2024-07-01 10:00:00 UTC
    ASSERT_TRUE(Win32Clock::LocalOf({1705316400, 0}, winter));  // 2024-01-15 11:00:00 UTC
    EXPECT_EQ(ToIsoText(summer.time), ToIsoText({2024, 7, 1, 12, 0, 0}));
    EXPECT_EQ(ToIsoText(winter.time), ToIsoText({2024, 1, 15, 12, 0, 0}));
}

}  // namespace
}  // namespace vel::platform
