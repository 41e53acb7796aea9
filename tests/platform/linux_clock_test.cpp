// The Linux clock's readings: instants and the local time they show. The
// setting itself is exercised only inside `unshare -r -n` with a stand-in for
// clock_settime (the integration tests), never here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/linux_clock.h"
#include "support/virtual_time.h"

namespace vel {
namespace {

using platform::LocalOf;

class TimeZoneScope {
public:
    explicit TimeZoneScope(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZoneScope()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

TEST(LinuxClock, LocalOfAnInstantFollowsTheOffsetInForceThenAndKeepsTheFraction)
{
    TimeZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto summer = LocalOf({1751364000, 500000000});  // 2025-07-01 10:00:00.5 UTC
    ASSERT_TRUE(summer);
    EXPECT_EQ(summer->time, (platform::LocalDateTime{2025, 7, 1, 12, 0, 0}));
    EXPECT_EQ(summer->nanoseconds, 500000000);
    const auto winter = LocalOf({1736938800, 0});  // 2025-01-15 11:00:00 UTC
    ASSERT_TRUE(winter);
    EXPECT_EQ(winter->time, (platform::LocalDateTime{2025, 1, 15, 12, 0, 0}));
    // The spring-forward: 01:59:59 in winter time, then 03:00:00 in summer time.
    EXPECT_EQ(LocalOf({1743296399, 0})->time, (platform::LocalDateTime{2025, 3, 30, 1, 59, 59}));
    EXPECT_EQ(LocalOf({1743296400, 0})->time, (platform::LocalDateTime{2025, 3, 30, 3, 0, 0}));
    // The second before the epoch is a time, not a failure.
    TimeZoneScope utc("UTC0");
    const auto before = LocalOf({-1, 0});
    ASSERT_TRUE(before);
    EXPECT_EQ(before->time, (platform::LocalDateTime{1969, 12, 31, 23, 59, 59}));
}

TEST(LinuxClock, LocalOfRefusesWhatIsNoInstant)
{
    EXPECT_FALSE(LocalOf({0, 1000000000}));
    EXPECT_FALSE(LocalOf({0, -1}));
}

// A correct clock stays correct in every zone: the local time the clock shows
// is the UTC reading plus the exact offset of the time-zone record, which is
// what the server's time is made local with.
TEST(LinuxClock, TheOffsetReadTurnsUtcIntoTheLocalTimeShownInEveryZone)
{
    const std::vector<std::string> zones = test::TzZoneNames();
    ASSERT_GT(zones.size(), 300u);
    platform::LinuxClock clock;
    for (const std::string& name : zones) {
        SCOPED_TRACE(name);
        TimeZoneScope zone((":" + name).c_str());
        const platform::ClockReading reading = clock.Read();
        EXPECT_EQ(platform::AddSeconds(platform::UtcDateTime(reading.utc), reading.utcOffsetSeconds),
                  reading.local.time);
        EXPECT_EQ(reading.local.nanoseconds, reading.utc.nanoseconds);
    }
}

// A refused setting names what would let the program set the clock: for
// someone outside the group, the group; for a member, why their session does
// not count (the group's words are checked against timedated and polkit in
// the VM test, scripts/test-vm.sh).
TEST(LinuxClock, ARefusalNamesTheFixThatFitsIt)
{
    using platform::SessionKind;
    const std::string denied = "org.freedesktop.DBus.Error.AccessDenied";
    const std::string interactive = "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired";
    const struct {
        std::string refusal;
        bool member;
        SessionKind session;
        bool machine;
        const char* says;  // empty: no fix at all
    } cases[] = {
        {denied, false, SessionKind::ActiveLocal, true, "sudo systemctl start veltrane-sync.service"},
        {"org.freedesktop.timedate1.AutomaticTimeSyncEnabled", true, SessionKind::ActiveLocal, false,
         "turn that off: timedatectl set-ntp false"},
        {"org.freedesktop.DBus.Error.ServiceUnknown", false, SessionKind::ActiveLocal, false, ""},
        {interactive, false, SessionKind::ActiveLocal, false,
         "to let bob set it without a password, an administrator adds bob to the group veltrane: "
         "sudo adduser bob veltrane (then bob logs in again); or has the machine set it for every user: "
         "sudo systemctl enable --now veltrane-sync.timer"},
        {interactive, true, SessionKind::Remote, false, "this run's session is a remote one (SSH)"},
        {denied, true, SessionKind::Inactive, false, "this run's session is not the active one"},
        {interactive, true, SessionKind::None, false, "this run belongs to no login session"},
        {interactive, true, SessionKind::ActiveLocal, false, "50-veltrane-set-time.rules may be missing"},
        {interactive, true, SessionKind::Unknown, false, "logind could not say"},
    };
    for (const auto& c : cases) {
        const std::string fix = platform::SetTimeRemedy(c.refusal, {"bob", c.member, c.session}, c.machine);
        SCOPED_TRACE(fix);
        if (*c.says == '\0') {
            EXPECT_EQ(fix, "");
            continue;
        }
        EXPECT_NE(fix.find(c.says), std::string::npos);
        // A member is never told to join the group they are in.
        EXPECT_EQ(fix.find("adduser") == std::string::npos, c.member || c.machine);
        if (c.member && !c.machine && c.refusal != "org.freedesktop.timedate1.AutomaticTimeSyncEnabled") {
            EXPECT_EQ(fix.rfind("bob is a member of the group veltrane", 0), 0u);
        }
    }
}

}  // namespace
}  // namespace vel
