#include "platform/linux/hardware_clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

TEST(HardwareClock, AdjtimesThirdLineSaysLocalTimeOrElseItIsUtc)
{
    const struct {
        const char* text;
        bool local;
    } cases[] = {
        {"0.0 0 0.0\n0\nLOCAL\n", true},
        {"0.0 0 0.0\n0\nLOCAL", true},
        {"0.0 0 0.0\r\n0\r\nLOCAL \r\n", true},
        {"0.0 0 0.0\n0\nUTC\n", false},
        {"", false},
        {"0.0 0 0.0\n0\n", false},
        {"LOCAL\nLOCAL\n", false},
        {"0.0 0 0.0\n0\nlocal\n", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KeepsLocalTime(c.text), c.local) << c.text;
}

// Against a stand-in device (a file the test makes) and a setter that
// records what the ioctl would get.
struct StandIn {
    fs::path folder;
    HardwareClockFiles files;
    std::vector<LocalDateTime> set;
    int answer = 0;
    RtcSetter setter = [this](int fd, const LocalDateTime& utc) {
        EXPECT_GE(fd, 0);
        set.push_back(utc);
        return answer;
    };

    StandIn()
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-rtc-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        files = {(folder / "rtc0").string(), (folder / "adjtime").string()};
        std::ofstream(files.device) << "";
    }
    ~StandIn() { fs::remove_all(folder); }
    void Adjtime(const char* text) { std::ofstream(files.adjtime) << text; }
};

TEST(HardwareClock, AUtcClockIsSetToTheWholeSecondAndALocalOneLeftAlone)
{
    const Instant at = InstantOfUtc({2026, 12, 8, 21, 5, 7}, 0);
    for (const char* adjtime : {static_cast<const char*>(nullptr), "0.0 0 0.0\n0\nUTC\n"}) {
        StandIn rtc;
        if (adjtime)
            rtc.Adjtime(adjtime);
        EXPECT_EQ(SetHardwareClock(at, rtc.files, rtc.setter),
                  "hardware clock set to the system clock (UTC): " + rtc.files.device);
        ASSERT_EQ(rtc.set.size(), 1u);
        EXPECT_EQ(rtc.set[0].year, 2026);
        EXPECT_EQ(rtc.set[0].month, 12);
        EXPECT_EQ(rtc.set[0].hour, 21);
        EXPECT_EQ(rtc.set[0].second, 7);
    }
    StandIn local;
    local.Adjtime("0.0 0 0.0\n0\nLOCAL\n");
    EXPECT_EQ(SetHardwareClock(at, local.files, local.setter),
              "hardware clock left alone: " + local.files.adjtime + " says it keeps local time");
    EXPECT_TRUE(local.set.empty());
}

TEST(HardwareClock, NoDeviceARefusedOneAndARefusedSettingAreSaid)
{
    const Instant at = InstantOfUtc({2026, 12, 8, 21, 5, 7}, 0);
    StandIn none;
    fs::remove(none.files.device);
    EXPECT_EQ(SetHardwareClock(at, none.files, none.setter),
              "hardware clock: none at " + none.files.device + ", nothing to set");

    StandIn refused;
    refused.answer = EPERM;
    EXPECT_EQ(SetHardwareClock(at, refused.files, refused.setter),
              "WARNING: hardware clock not set: " + refused.files.device + ": RTC_SET_TIME: operation not permitted");

    // The real ioctl on a file that is no RTC.
    StandIn notAClock;
    EXPECT_EQ(SetHardwareClock(at, notAClock.files)
                  .rfind("WARNING: hardware clock not set: " + notAClock.files.device + ": RTC_SET_TIME: ", 0),
              0u);

    if (::geteuid() != 0) {
        StandIn unreadable;
        ::chmod(unreadable.files.device.c_str(), 0);
        EXPECT_EQ(SetHardwareClock(at, unreadable.files, unreadable.setter),
                  "WARNING: hardware clock not set: " + unreadable.files.device + ": permission denied");
    }
}

}  // namespace
}  // namespace vel::platform
