// The run's connection steps: the OnlyIfConnected stop, the warning after a
// failed connect, and the hang-up of a line that this run dialled.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run/run_sync.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::InOrder;
using test::TestApp;
using Lines = std::vector<std::string>;

constexpr const char* kServer = "127.0.0.1 (local test server)";

void QuietSettings(TestApp& t, const std::string& connectionType, const std::string& connectoid)
{
    Settings& s = t.app.settings;
    s.NTPServer = kServer;
    s.Delay = "3";
    s.DelaySeconds = 3;
    s.Tolerance = 30;
    s.PCOffset = 0;
    s.ConnectionType = connectionType;
    s.Connectoid = connectoid;
    s.QuietMode = "Y";
    s.OnlyIfConnected = "N";
    // The server refuses at once: the time query fails and the run goes on
    // through its failure branch.
    t.socket.onConnect = [](test::FakeSocket& socket, int) {
        socket.DeliverError(platform::SocketFailure::Refused, "Connection refused");
    };
}

bool Has(const Lines& logged, const std::string& line)
{
    return std::find(logged.begin(), logged.end(), line) != logged.end();
}

bool HasPrefix(const Lines& logged, const std::string& prefix)
{
    return std::any_of(logged.begin(), logged.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

TEST(RunConnection, OnlyIfConnectedWithoutAConnectionStopsBeforeTheQueryAndHangsNothingUp)
{
    TestApp t;
    QuietSettings(t, "LAN", "");
    t.app.settings.OnlyIfConnected = "Y";
    t.dialUp.SetOffline();

    RunSync(t.app);

    const Lines lines = t.LogLines();
    EXPECT_EQ(lines, (Lines{"*** VEL started ***", "started in quiet mode", "ERROR: connection via LAN failed",
                            "no current internet connection found"}));
    EXPECT_TRUE(t.dialUp.hungUp.empty());
    EXPECT_EQ(t.socket.connects, 0);
    EXPECT_TRUE(t.app.runFinished);
}

TEST(RunConnection, OnlyIfConnectedStillDialsFirst)
{
    // The dial fails; a modem flag without an online result does not count as
    // a connection, and the run stops without a hang-up.
    TestApp t;
    QuietSettings(t, "MODEM", "ISP");
    t.app.settings.OnlyIfConnected = "Y";
    t.dialUp.SetOffline();

    RunSync(t.app);

    EXPECT_EQ(t.dialUp.dialled, Lines{"ISP"});
    EXPECT_TRUE(InOrder(t.LogLines(), {"no current internet connection found"}));
    EXPECT_TRUE(t.dialUp.hungUp.empty());
}

TEST(RunConnection, FailedConnectIsAWarningAndTheQueryRunsAllTheSame)
{
    TestApp t;
    QuietSettings(t, "LAN", "");
    t.dialUp.SetOffline();

    RunSync(t.app);

    const Lines lines = t.LogLines();
    EXPECT_TRUE(InOrder(lines, {"ERROR: connection via LAN failed", "WARNING: Connection to internet may have failed",
                                std::string("starting connect to ") + kServer}));
    EXPECT_FALSE(Has(lines, "no current internet connection found"));
    EXPECT_TRUE(t.dialUp.hungUp.empty());
}

TEST(RunConnection, ConnectionFoundUpGivesNoWarning)
{
    TestApp t;
    QuietSettings(t, "BOTH", "ISP");
    t.dialUp.SetLan();

    RunSync(t.app);

    const Lines lines = t.LogLines();
    EXPECT_TRUE(InOrder(lines, {"detected current connection via LAN", std::string("starting connect to ") + kServer}));
    EXPECT_FALSE(HasPrefix(lines, "WARNING: "));
    EXPECT_TRUE(t.dialUp.dialled.empty());
    EXPECT_TRUE(t.dialUp.hungUp.empty());
}

TEST(RunConnection, ALineThisRunDialledIsHungUpAtTheEndUnderTheDefaultEntry)
{
    TestApp t;
    QuietSettings(t, "MODEM", "Night rate");
    t.dialUp.SetOffline();
    t.dialUp.defaultEntry = "Day rate";
    t.dialUp.onStartDialer = [&t](const std::string& entry) { t.dialUp.SetModemUp(entry); };
    double hungUpAt = -1;
    t.dialUp.onHangUp = [&t, &hungUpAt](const std::string&) {
        hungUpAt = t.clock.MonotonicSeconds();
        t.pump.After(1.5, [&t] {
            t.dialUp.SetOffline();
            t.dialUp.linkUp = false;
            t.dialUp.active.clear();
        });
    };

    RunSync(t.app);

    EXPECT_EQ(t.dialUp.dialled, Lines{"Night rate"});
    EXPECT_EQ(t.dialUp.hungUp, Lines{"Day rate"});  // the default entry, not the one dialled
    EXPECT_FALSE(t.app.AlreadyConnected);
    // After the 3-second exit countdown of the failed query; then the 3-second
    // wait of the hang-up.
    EXPECT_DOUBLE_EQ(hungUpAt, 3.0);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 6.0);
    const Lines lines = t.LogLines();
    EXPECT_TRUE(
        InOrder(lines, {"connected successfully to Night rate", std::string("starting connect to ") + kServer}));
    EXPECT_FALSE(HasPrefix(lines, "WARNING: "));
    platform::HeadlessForm* window = t.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Text("txtStatus"), "Disconnecting from internet....");
    EXPECT_FALSE(window->IsEnabled("cmdCancel"));
    EXPECT_TRUE(t.app.runFinished);
}

TEST(RunConnection, NoHangUpForAConnectionThatWasUpBeforeTheRun)
{
    for (const char* type : {"MODEM", "BOTH", "LAN"}) {
        SCOPED_TRACE(type);
        TestApp t;
        QuietSettings(t, type, "ISP");
        t.dialUp.SetModemUp("ISP");
        t.dialUp.defaultEntry = "ISP";

        RunSync(t.app);

        EXPECT_TRUE(t.app.AlreadyConnected);
        EXPECT_TRUE(t.dialUp.dialled.empty());
        EXPECT_TRUE(t.dialUp.hungUp.empty());
        EXPECT_TRUE(Has(t.LogLines(), "detected current connection via MODEM (ISP)"));
        EXPECT_NE(t.Window()->Text("txtStatus"), "Disconnecting from internet....");
    }
}

TEST(RunConnection, NoHangUpWhenNoModemConnectionIsReportedAtTheEnd)
{
    // Dialled, but the line dropped during the query: nothing to hang up.
    TestApp t;
    QuietSettings(t, "MODEM", "ISP");
    t.dialUp.SetOffline();
    t.dialUp.defaultEntry = "ISP";
    t.dialUp.onStartDialer = [&t](const std::string& entry) { t.dialUp.SetModemUp(entry); };
    t.pump.At(1.5, [&t] { t.dialUp.SetOffline(); });

    RunSync(t.app);

    EXPECT_EQ(t.dialUp.dialled, Lines{"ISP"});
    EXPECT_TRUE(t.dialUp.hungUp.empty());
}

TEST(RunConnection, AHangUpThatDoesNotTakeStillEndsTheRunWithAWarning)
{
    TestApp t;
    QuietSettings(t, "MODEM", "ISP");
    t.dialUp.SetOffline();
    t.dialUp.defaultEntry = "ISP";
    t.dialUp.onStartDialer = [&t](const std::string& entry) { t.dialUp.SetModemUp(entry); };

    RunSync(t.app);

    EXPECT_EQ(t.dialUp.hungUp, Lines{"ISP"});
    EXPECT_TRUE(InOrder(t.LogLines(), {"WARNING: a dial-up link is still up 30 seconds after hanging up \"ISP\"; "
                                       "no longer waiting for it to go down"}));
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 3.0 + 33.0);
    EXPECT_TRUE(t.app.runFinished);
    EXPECT_FALSE(t.Window()->IsVisible());
}

TEST(RunConnection, UnsafeEntryNameIsNeverDialled)
{
    TestApp t;
    QuietSettings(t, "MODEM", "ISP\" & del /q *.* & \"");
    t.dialUp.SetOffline();

    RunSync(t.app);

    EXPECT_TRUE(t.dialUp.dialled.empty());
    EXPECT_TRUE(InOrder(t.LogLines(),
                        {"ERROR: dial-up entry not dialled: its name holds a double quote or a control "
                         "character (ISP\" & del /q *.* & \")",
                         "ERROR: connection failed to ISP\" & del /q *.* & \"", "ERROR: could not connect to any DUN",
                         "WARNING: Connection to internet may have failed"}));
}

}  // namespace
}  // namespace vel
