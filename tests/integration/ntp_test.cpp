// The real program over NTP: Debian's chrony in server mode (no clock rights)
// and tools/sntp-server for what chrony will not do, each inside the run's
// own network namespace; the clock stand-in records the instant asked for.
#include <string>

#include "program_run.h"

namespace vel::integration {
namespace {

class NtpRun : public ProgramTest {
protected:
    // Tolerance=-1: even a clock that is right is set, so the instant asked
    // for shows how precisely the server was measured.
    ProgramRun RunWith(const std::string& entry, RunOptions options, const std::string& more = "Tolerance=-1\r\n")
    {
        WriteSettings("[Main]\r\nNTPServer=" + entry + "\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=Y\r\n" + more);
        options.clockStandIn = "succeed";
        return Run(options);
    }
    bool ChronyMissing() const { return std::string(CHRONYD_EXE).empty(); }
};

// A name like the pool's, standing for a local chrony: TCP 13 is refused, the
// same host answers over NTP, and the clock is set to its time.
TEST_F(NtpRun, APoolNameWithoutDaytimeSetsTheClockOverNtp)
{
    if (ChronyMissing())
        GTEST_SKIP() << "chronyd not found: bash scripts/setup.sh unpacks it";
    RunOptions options;
    options.ntp = "chrony";
    options.hosts = "127.0.0.1 localhost\n127.0.0.1 pool.ntp.org\n";
    const ProgramRun run = RunWith("pool.ntp.org", options);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(
        InOrder(run.log, {"starting connect to pool.ntp.org", kAskedOverNtp, "the server answered over NTP (stratum 1)",
                          "the PC clock is *, measured to within *", "system clock corrected to *"}))
        << run.output;
    ASSERT_EQ(run.clockSettings.size(), 1u) << run.output;
    EXPECT_NEAR(run.clockSettings[0].FromNow(), 0.0, 0.005);
    ASSERT_EQ(run.connections.size(), 2u);
    EXPECT_EQ(run.connections[0].port, 13);
    EXPECT_EQ(run.connections[1].port, 123);
}

// Over the delay line's symmetric path (50 ms each way), within 5 ms.
TEST_F(NtpRun, OverASlowPathTheInstantIsSetWithin5Milliseconds)
{
    if (ChronyMissing())
        GTEST_SKIP() << "chronyd not found: bash scripts/setup.sh unpacks it";
    RunOptions options;
    options.ntp = "chrony";
    options.delayLine = "50 50";
    const ProgramRun run = RunWith("ntp:10.13.0.2 (behind a delay line)", options);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    ASSERT_EQ(run.clockSettings.size(), 1u) << run.output;
    EXPECT_NEAR(run.clockSettings[0].FromNow(), 0.0, 0.005);
    EXPECT_TRUE(
        InOrder(run.log, {"the server answered over NTP (stratum 1)", "the PC clock is *, measured to within *"}))
        << run.output;
}

// A kiss only our own server gives, and the fallback turned off: the lines
// that say so.
TEST_F(NtpRun, AKissAndNoFallback)
{
    struct Case {
        const char* name;
        std::string entry;
        std::string server;  // sntp-server's options
        std::string more;    // settings
        Lines lines;
        std::size_t connections;
    };
    const Case cases[] = {
        {"kiss code RATE",
         "ntp:127.0.0.1",
         "--mode rate",
         "",
         {"WARNING: the NTP server 127.0.0.1 sent kiss code RATE (asked too often): it is not asked again in this run",
          "ERROR: NTP server refused the time: kiss code RATE (asked too often)"},
         1},
        {"NTPFallback=N", "127.0.0.1", "", "NTPFallback=N\r\n", {"ERROR: winsock error - 10061 Connection refused"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        RunOptions options;
        options.ntp = c.server.empty() ? "--mode normal" : c.server;
        const ProgramRun run = RunWith(c.entry, options, c.more);
        EXPECT_EQ(run.exitStatus, 1) << run.output;
        EXPECT_TRUE(InOrder(run.log, c.lines)) << run.output;
        EXPECT_EQ(run.connections.size(), c.connections);
        EXPECT_TRUE(run.clockSettings.empty());
    }
}

}  // namespace
}  // namespace vel::integration
