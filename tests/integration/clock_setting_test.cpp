// The real setting path of build/veltrane, end to end, without touching this
// machine's clock: inside `unshare -r -n`, with the system bus unreachable and
// clock_settime replaced by a stand-in (tests/preload) that records the instant
// asked for and refuses or pretends success.
#include <cmath>
#include <string>

#include "program_run.h"

namespace vel::integration {
namespace {

class ClockSettingRun : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        WriteSettings(
            "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n"
            "QuietMode=Y\r\n");
    }

    ProgramRun RunProgram(const std::string& server, const std::string& standIn, const std::string& zone = "")
    {
        RunOptions options;
        options.server = server;
        options.clockStandIn = standIn;
        options.timeZone = zone;
        return Run(options);
    }
};

// A server that sends the NIST layout on the second (msADV 0 on loopback),
// 95 seconds behind the real clock: the PC clock is 95 seconds ahead of it.
const char* const kOnTimeBehind = "--layout nist --mode ontime --advance 0 --offset -95";

TEST_F(ClockSettingRun, TheInstantAskedForIsTheServersTimeWithin20Milliseconds)
{
    const ProgramRun run = RunProgram(kOnTimeBehind, "succeed");
    ASSERT_EQ(run.log.size(), 6u) << run.output;
    EXPECT_EQ(run.log[4], "system clock off by 1 minute 35 seconds");
    EXPECT_EQ(run.log[5].rfind("system clock corrected to ", 0), 0u) << run.log[5];
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    ASSERT_EQ(run.clockSettings.size(), 1u);
    EXPECT_EQ(run.clockSettings[0].clock, 0);  // CLOCK_REALTIME
    EXPECT_NEAR(run.clockSettings[0].FromNow(), -95.0, 0.020);
    EXPECT_EQ(run.connections.size(), 1u);
}

TEST_F(ClockSettingRun, ARefusedSettingTriesTheSystemBusAndIsReported)
{
    const ProgramRun run = RunProgram(kOnTimeBehind, "refuse");
    ASSERT_EQ(run.log.size(), 6u) << run.output;
    EXPECT_EQ(run.log[4], "system clock off by 1 minute 35 seconds");
    EXPECT_EQ(run.log[5].rfind("ERROR: the system clock could not be set: clock_settime: operation not permitted; "
                               "no system bus to reach systemd-timedated",
                               0),
              0u)
        << run.log[5];
    EXPECT_EQ(run.exitStatus, 2);
    ASSERT_EQ(run.clockSettings.size(), 1u);
    EXPECT_NEAR(run.clockSettings[0].FromNow(), -95.0, 0.020);
}

// A zone that is not whole hours: a clock that is off is set to the
// server's instant, not half an hour beside it.
TEST_F(ClockSettingRun, InAZoneThatIsNotWholeHours)
{
    const ProgramRun behind =
        RunProgram("--layout nist --mode ontime --advance 0 --offset 95", "succeed", "Asia/Kolkata");
    ASSERT_GE(behind.log.size(), 2u) << behind.output;
    EXPECT_EQ(behind.log[behind.log.size() - 2], "system clock off by 1 minute 35 seconds");
    ASSERT_EQ(behind.clockSettings.size(), 1u);
    EXPECT_NEAR(behind.clockSettings[0].FromNow(), 95.0, 0.020);
}

// Without an on-time marker the named second is taken as half over.
TEST_F(ClockSettingRun, TheXinetdLayoutIsSetToWithinHalfASecond)
{
    const ProgramRun run = RunProgram("--layout xinetd --offset -95", "succeed");
    ASSERT_EQ(run.log.size(), 6u) << run.output;
    ASSERT_EQ(run.clockSettings.size(), 1u);
    EXPECT_NEAR(run.clockSettings[0].FromNow(), -95.0, 0.520);
}

// One attempt, one connection: a refusal is one connect, not Qt's two.
TEST_F(ClockSettingRun, ARefusalIsOneConnection)
{
    const ProgramRun refused = RunProgram("", "refuse");
    ASSERT_FALSE(refused.log.empty()) << refused.output;
    EXPECT_EQ(refused.log.back(), "ERROR: winsock error - 10061 Connection refused");
    ASSERT_EQ(refused.connections.size(), 1u);
    EXPECT_EQ(refused.connections[0].address, "127.0.0.1");
    EXPECT_EQ(refused.connections[0].port, 13);
}

}  // namespace
}  // namespace vel::integration
