// The real program with NetworkManager and systemd-timedated as
// python-dbusmock plays them on a private system bus (dbus-daemon with its
// own configuration, started by the test; the machine's bus is never used).
// The program runs inside `unshare -r -n`: clock_settime fails there, so the
// clock is set through the mocked timedated, and nothing leaves loopback.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <string>
#include <thread>

#include "program_run.h"
#include "support/dbus/private_bus.h"

namespace vel::integration {
namespace {

constexpr const char* kServer = "127.0.0.1 (local test server)";
constexpr const char* kNetworkManager = "org.freedesktop.NetworkManager";
constexpr const char* kTimedated = "org.freedesktop.timedate1";
constexpr const char* kNoAnswer = "WARNING: NetworkManager does not answer";

// Seconds since the epoch, as the mocks stamp their calls: the program's own
// start-up (slower in a sanitized build) is left out of the dial's time by
// counting from the mock's record of the dial.
double Now()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class SystemServices : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        ASSERT_EQ(bus.Error(), "");
    }

    void Settings(const std::string& connectionType, const std::string& connectoid, const std::string& onlyIfConnected)
    {
        WriteSettings(std::string("[Main]\r\nNTPServer=") + kServer +
                      "\r\nDelay=3\r\nQuietMode=Y\r\nConnectionType=" + connectionType +
                      "\r\nConnectoid=" + connectoid + "\r\nOnlyIfConnected=" + onlyIfConnected + "\r\n");
    }

    // NetworkManager with one modem profile, "Mobile", and these parameters
    // (the inside of a JSON object); not connected unless they say so.
    void StartNetworkManager(const std::string& parameters)
    {
        ASSERT_TRUE(bus.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager,
                                  R"({"State": 20, "Profiles": [["Mobile", "gsm"]], )" + parameters + "}"))
            << bus.Error();
    }

    // The program on the private bus, no default route unless asked for,
    // and an empty PATH folder (no pon or poff of this machine).
    ProgramRun RunBinary(const std::string& server, bool defaultRoute = false, const std::string& arguments = "")
    {
        const std::string bin = home.string() + "/bin";
        std::filesystem::create_directories(bin);
        RunOptions options;
        options.server = server;
        options.defaultRoute = defaultRoute;
        options.path = bin;
        options.arguments = arguments;
        options.systemBus = bus.Address();
        return Run(options);
    }

    test::PrivateSystemBus bus;
};

long Count(const Lines& log, const std::string& line)
{
    return std::count(log.begin(), log.end(), line);
}

TEST_F(SystemServices, NetworkManagersConnectedStateIsALanConnection)
{
    // No default route in the namespace: only NetworkManager says online.
    StartNetworkManager(R"("State": 70, "PrimaryType": "802-3-ethernet")");
    Settings("LAN", "", "Y");
    const ProgramRun run = RunBinary("--layout nist");
    EXPECT_TRUE(InOrder(run.log, {"started in quiet mode", "detected current connection via LAN",
                                  std::string("starting connect to ") + kServer, "system clock correct"}))
        << run.output;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_LT(run.seconds, 10.0);
    EXPECT_TRUE(bus.CallsOf(kNetworkManager, "ActivateConnection").empty());
}

TEST_F(SystemServices, AModemProfileIsDialledComesUpAfterSecondsAndIsHungUpAtTheEnd)
{
    StartNetworkManager(R"("ListedAfter": 1, "UpAfter": 3, "DownAfter": 0.5)");
    Settings("MODEM", "Mobile", "Y");
    const ProgramRun run = RunBinary("--layout nist");
    EXPECT_TRUE(InOrder(run.log, {"connected successfully to Mobile", std::string("starting connect to ") + kServer,
                                  "system clock correct"}))
        << run.output;
    EXPECT_EQ(Count(run.log, kNoAnswer), 0);
    EXPECT_EQ(run.exitStatus, 0);

    const auto activated = bus.CallsOf(kNetworkManager, "ActivateConnection");
    ASSERT_EQ(activated.size(), 1u);
    EXPECT_EQ(activated[0], R"("/org/freedesktop/NetworkManager/Settings/0" "/" "/")");
    // The line this run brought up is taken down again: the active
    // connection of the profile dialled.
    const auto deactivated = bus.CallsOf(kNetworkManager, "DeactivateConnection");
    ASSERT_EQ(deactivated.size(), 1u);
    EXPECT_EQ(deactivated[0], R"("/org/freedesktop/NetworkManager/ActiveConnection/1")");
    const double dialled = bus.TimesOf(kNetworkManager, "ActivateConnection")[0];
    const double hungUp = bus.TimesOf(kNetworkManager, "DeactivateConnection")[0];
    // Up after 3 seconds, then the query and the 3-second exit countdown.
    EXPECT_GE(hungUp - dialled, 5.5);
    EXPECT_LT(hungUp - dialled, 9.0);
    // The hang-up's first wait of 3 seconds; the link is gone by then.
    EXPECT_LT(run.seconds, hungUp - dialled + 6.0);
}

TEST_F(SystemServices, ALinkThatGoesAwayWhileDiallingEndsTheDialAtOnce)
{
    StartNetworkManager(R"("ListedAfter": 0.5, "UpAfter": -1, "GoneAfter": 2.5)");
    Settings("MODEM", "Mobile", "Y");
    const ProgramRun run = RunBinary("--layout nist");
    const double ended = Now();
    EXPECT_TRUE(InOrder(run.log, {"ERROR: connection failed to Mobile", "ERROR: could not connect to any DUN",
                                  "no current internet connection found"}))
        << run.output;
    ASSERT_EQ(bus.TimesOf(kNetworkManager, "ActivateConnection").size(), 1u);
    // Gone 2.5 seconds after the dial: noticed at the next poll.
    const double dial = ended - bus.TimesOf(kNetworkManager, "ActivateConnection")[0];
    EXPECT_GE(dial, 2.5);
    EXPECT_LT(dial, 4.0);
}

TEST_F(SystemServices, ALinkThatWentAwayBeforeTheEndIsNotHungUp)
{
    StartNetworkManager(R"("ListedAfter": 0, "UpAfter": 0.5, "GoneAfter": 2)");
    Settings("MODEM", "Mobile", "N");
    const ProgramRun run = RunBinary("--layout nist");
    EXPECT_TRUE(InOrder(run.log, {"connected successfully to Mobile", "system clock correct"})) << run.output;
    EXPECT_TRUE(bus.CallsOf(kNetworkManager, "DeactivateConnection").empty());
    // No 30-second wait for a link to go that is not there.
    EXPECT_LT(run.seconds, 12.0);
}

// A NetworkManager that hangs at the first question of a dial costs one
// time-out, and the log says so once: the profile cannot be found, so the
// dial ends at once with its reason.
TEST_F(SystemServices, NetworkManagerHangingAtTheDialsFirstQuestionEndsTheDialAtOnce)
{
    StartNetworkManager(R"("Hang": "ListConnections")");
    Settings("MODEM", "Mobile", "Y");
    const ProgramRun run = RunBinary("--layout nist");
    const double ended = Now();
    EXPECT_TRUE(InOrder(run.log, {kNoAnswer,
                                  "ERROR: dial-up entry not dialled: there is no such entry: no pppd "
                                  "peer in /etc/ppp/peers has that name (Mobile)",
                                  "ERROR: connection failed to Mobile", "ERROR: could not connect to any DUN",
                                  "no current internet connection found"}))
        << run.output;
    EXPECT_EQ(Count(run.log, kNoAnswer), 1);
    EXPECT_EQ(run.exitStatus, 4);
    const auto hung = bus.TimesOf(kNetworkManager, "ListConnections");
    ASSERT_FALSE(hung.empty());
    EXPECT_LT(ended - hung.back(), 1.5);
}

// A NetworkManager that answers each call in 150 ms, with 21 profiles: the
// lookup of the entry takes seconds, and a signal in the middle of it is
// answered at once, since the event loop runs while D-Bus answers. Nothing
// was dialled.
TEST_F(SystemServices, ASignalWhileNetworkManagerIsSlowIsAnsweredAtOnce)
{
    std::string profiles;
    for (int i = 1; i <= 20; ++i)
        profiles += "[\"Network " + std::to_string(i) + "\", \"802-11-wireless\"], ";
    ASSERT_TRUE(bus.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager,
                              R"({"State": 20, "Delay": 0.15, "Profiles": [)" + profiles + R"(["Mobile", "gsm"]]})"))
        << bus.Error();
    Settings("MODEM", "Mobile", "Y");
    std::filesystem::create_directories(home / "bin");
    RunOptions options;
    options.path = (home / "bin").string();
    options.systemBus = bus.Address();
    auto program = Start(options);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (bus.CallsOf(kNetworkManager, "GetSettings").size() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(bus.CallsOf(kNetworkManager, "GetSettings").size(), 5u) << "the lookup never began";

    program->Signal(SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    ASSERT_TRUE(program->WaitForLogLine("WARNING: stopped by signal SIGTERM", 5));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count(), 0.1);
    const ProgramRun run = program->Finish(10);
    EXPECT_EQ(run.exitStatus, 128 + SIGTERM) << run.output;
    EXPECT_LT(bus.CallsOf(kNetworkManager, "GetSettings").size(), 21u);
    EXPECT_TRUE(bus.CallsOf(kNetworkManager, "ActivateConnection").empty());
}

TEST_F(SystemServices, TheClockIsSetThroughTimedatedToTheServersTime)
{
    // Automatic synchronisation off: the clock is ours to set.
    ASSERT_TRUE(bus.StartMock("timedated", kTimedated, "{\"NTP\": false}")) << bus.Error();
    Settings("LAN", "", "N");
    // The server is half an hour ahead of this machine's clock.
    const ProgramRun run = RunBinary("--layout nist --offset 1800", true);
    EXPECT_TRUE(InOrder(
        run.log, {"detected current connection via LAN", "system clock off by *", "system clock corrected to *"}))
        << run.output;
    EXPECT_EQ(run.exitStatus, 0);

    const auto calls = bus.CallsOf(kTimedated, "SetTime");
    ASSERT_GE(calls.size(), 1u);
    // "<microseconds> True True": a step, interactive; the half hour forward.
    const std::string& first = calls[0];
    ASSERT_EQ(first.substr(first.find(' ')), " True True") << first;
    const double step = std::stod(first.substr(0, first.find(' '))) / 1e6;
    EXPECT_LT(std::fabs(step - 1800.0), 1.5) << first;
}

}  // namespace
}  // namespace vel::integration
