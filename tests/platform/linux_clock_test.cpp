// The Linux clock's conversion of a local date-time to what clock_settime
// takes. The setting itself is exercised only inside `unshare -r -n` (the
// integration tests), never here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/linux/linux_clock.h"

namespace vel {
namespace {

using platform::LocalToUtc;

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

TEST(LinuxClock, LocalToUtcFollowsTheDaylightRuleOfTheDateAndKeepsTheFraction)
{
    TimeZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto summer = LocalToUtc({{2025, 7, 1, 12, 0, 0}, 500000000});
    ASSERT_TRUE(summer);
    EXPECT_EQ(summer->tv_sec, 1751364000);  // 2025-07-01 10:00:00 UTC
    EXPECT_EQ(summer->tv_nsec, 500000000);
    const auto winter = LocalToUtc({{2025, 1, 15, 12, 0, 0}, 0});
    ASSERT_TRUE(winter);
    EXPECT_EQ(winter->tv_sec, 1736938800);  // 2025-01-15 11:00:00 UTC
    // The second before the epoch is a time, not a failure.
    TimeZoneScope utc("UTC0");
    const auto before = LocalToUtc({{1969, 12, 31, 23, 59, 59}, 0});
    ASSERT_TRUE(before);
    EXPECT_EQ(before->tv_sec, -1);
}

TEST(LinuxClock, LocalToUtcRefusesWhatIsNoDateTime)
{
    EXPECT_FALSE(LocalToUtc({{2025, 2, 30, 12, 0, 0}, 0}));
    EXPECT_FALSE(LocalToUtc({{2025, 1, 1, 24, 0, 0}, 0}));
    EXPECT_FALSE(LocalToUtc({{2025, 1, 1, 0, 0, 0}, 1000000000}));
    EXPECT_FALSE(LocalToUtc({{2025, 1, 1, 0, 0, 0}, -1}));
    EXPECT_FALSE(LocalToUtc({}));
}

}  // namespace
}  // namespace vel
