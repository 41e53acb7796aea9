// The connection step of the real program: with only loopback, and with a
// default route over it. Nothing listens on port 13, so the time query fails
// at once and the run ends through its failure branch.
#include <algorithm>
#include <filesystem>
#include <string>

#include "program_run.h"

namespace vel::integration {
namespace {

constexpr const char* kServer = "127.0.0.1 (local test server)";

class ConnectionIntegration : public ProgramTest {
protected:
    void Settings(const std::string& connectionType, const std::string& connectoid, const std::string& onlyIfConnected)
    {
        WriteSettings(std::string("[Main]\r\nNTPServer=") + kServer +
                      "\r\nDelay=3\r\nQuietMode=Y\r\nConnectionType=" + connectionType +
                      "\r\nConnectoid=" + connectoid + "\r\nOnlyIfConnected=" + onlyIfConnected + "\r\n");
    }

    ProgramRun RunBinary(bool defaultRoute)
    {
        // The program's PATH: an empty folder, so that no pon or poff
        // of this machine is ever found.
        const std::string bin = home.string() + "/bin";
        std::filesystem::create_directories(bin);
        RunOptions options;
        options.defaultRoute = defaultRoute;
        options.path = bin;
        return Run(options);
    }
};

TEST_F(ConnectionIntegration, DefaultRouteIsALanConnection)
{
    Settings("LAN", "", "N");
    const ProgramRun run = RunBinary(true);
    EXPECT_TRUE(InOrder(run.log, {"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                                  std::string("starting connect to ") + kServer}))
        << run.output;
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "WARNING: Connection to internet may have failed"), 0);
    EXPECT_LT(run.seconds, 15.0);
}

TEST_F(ConnectionIntegration, OnlyIfConnectedWithoutARouteEndsBeforeTheQuery)
{
    Settings("LAN", "", "Y");
    const ProgramRun run = RunBinary(false);
    EXPECT_TRUE(InOrder(run.log, {"ERROR: connection via LAN failed", "no current internet connection found"}))
        << run.output;
    EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(),
                            [](const std::string& line) { return line.rfind("starting connect to ", 0) == 0; }),
              0);
    EXPECT_EQ(run.exitStatus, 4);  // not connected
    EXPECT_GE(run.seconds, 5.5);
    EXPECT_LT(run.seconds, 20.0);
}

TEST_F(ConnectionIntegration, DialUpOnlyWithoutAnEntryIsReported)
{
    Settings("MODEM", "", "N");
    const ProgramRun run = RunBinary(true);
    EXPECT_TRUE(
        InOrder(run.log, {"ERROR: no dialup connection configured", "WARNING: Connection to internet may have failed",
                          std::string("starting connect to ") + kServer}))
        << run.output;
    EXPECT_LT(run.seconds, 15.0);
}

}  // namespace
}  // namespace vel::integration
