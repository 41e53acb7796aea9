// A stop by signal, handled from the event pump: the log line, the settings,
// the hang-up of a line the run dialled, and the exit status 128 + number.
#include "run/stop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/entry.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::ProcessEnded;
using test::TestApp;
using Lines = std::vector<std::string>;

constexpr int kSigHup = 1, kSigInt = 2, kSigTerm = 15;

struct StopScene {
    TestApp t;
    int status = -1;

    StopScene(const std::string& quietMode, const std::string& connectionType, const std::string& connectoid = "")
    {
        t.WriteSettings("[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=20\r\nConnectionType=" +
                        connectionType + "\r\nConnectoid=" + connectoid + "\r\nQuietMode=" + quietMode + "\r\n");
    }
    void StopAt(double when, int number, const std::string& name)
    {
        t.pump.At(when, [this, number, name] { StopBySignal(t.app, number, name); });
    }
    // Runs the program until the stop ends it.
    void Run()
    {
        try {
            ProgramMain(t.app);
            ADD_FAILURE() << "the program ended by itself";
        } catch (const ProcessEnded& ended) {
            status = ended.status;
        }
    }
    bool Saved() { return t.SettingsText().find("OnlyIfConnected=N\r\n") != std::string::npos; }
};

TEST(StopBySignal, DuringTheStartDelayTheRunLogsSavesAndEndsWith128PlusTheNumber)
{
    for (const auto& [number, name] :
         std::vector<std::pair<int, std::string>>{{kSigTerm, "SIGTERM"}, {kSigInt, "SIGINT"}, {kSigHup, "SIGHUP"}}) {
        SCOPED_TRACE(name);
        StopScene s("N", "LAN");
        s.t.dialUp.SetLan();
        s.StopAt(4.5, number, name);
        s.Run();
        EXPECT_EQ(s.status, 128 + number);
        EXPECT_TRUE(test::InOrder(s.t.LogLines(), {"*** VEL started ***", "WARNING: stopped by signal " + name}));
        EXPECT_FALSE(test::InOrder(s.t.LogLines(), {"starting connect*"}));
        EXPECT_TRUE(s.Saved());
        EXPECT_TRUE(s.t.app.flags.UserCancelled);
        EXPECT_FALSE(s.t.Window()->IsVisible());
        EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 4.5);  // at once
        EXPECT_TRUE(s.t.dialUp.hungUp.empty());
    }
}

// A line that came up for this run is hung up; its going down is waited for
// a few seconds only, not the half minute of the run's own hang-up.
TEST(StopBySignal, ALineThisRunDialledIsHungUpWithABoundedWait)
{
    StopScene s("Y", "MODEM", "ISP");
    s.t.dialUp.SetOffline();
    s.t.dialUp.defaultEntry = "ISP";
    s.t.dialUp.onStartDialer = [&](const std::string& entry) { s.t.dialUp.SetModemUp(entry); };
    s.t.dialUp.onHangUp = [](const std::string&) {};  // and it does not go down
    s.t.socket.onConnect = [](test::FakeSocket&, int) {};
    s.StopAt(3.0, kSigTerm, "SIGTERM");
    s.Run();
    EXPECT_EQ(s.status, 143);
    EXPECT_EQ(s.t.dialUp.dialled, (Lines{"ISP"}));
    EXPECT_EQ(s.t.dialUp.hungUp, (Lines{"ISP"}));
    EXPECT_GE(s.t.clock.MonotonicSeconds(), 3.0 + kStopHangUpSeconds);
    EXPECT_LE(s.t.clock.MonotonicSeconds(), 3.0 + kStopHangUpSeconds + 1.0);
    EXPECT_TRUE(test::InOrder(s.t.LogLines(), {"WARNING: stopped by signal SIGTERM",
                                               "WARNING: a dial-up link is still up 5 seconds after hanging up "
                                               "\"ISP\"; no longer waiting for it"}));
    EXPECT_TRUE(s.Saved());
}

// A dial still in progress when the stop comes is hung up too, so that the
// line does not come up after the program has ended.
TEST(StopBySignal, ADialInProgressIsHungUp)
{
    StopScene s("Y", "MODEM", "ISP");
    s.t.dialUp.SetOffline();
    s.t.dialUp.defaultEntry = "ISP";
    s.t.dialUp.onStartDialer = [&](const std::string& entry) { s.t.dialUp.active = {entry}; };  // listed, not up
    s.StopAt(3.0, kSigTerm, "SIGTERM");
    s.Run();
    EXPECT_EQ(s.status, 143);
    EXPECT_EQ(s.t.dialUp.hungUp, (Lines{"ISP"}));
    EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 3.0);  // no link to wait for
    EXPECT_TRUE(test::InOrder(s.t.LogLines(), {"WARNING: stopped by signal SIGTERM"}));
}

TEST(StopBySignal, ALineThatGoesDownEndsTheWaitAtOnce)
{
    StopScene s("Y", "MODEM", "ISP");
    s.t.dialUp.SetOffline();
    s.t.dialUp.defaultEntry = "ISP";
    s.t.dialUp.onStartDialer = [&](const std::string& entry) {
        s.t.pump.After(2.0, [&s, entry] { s.t.dialUp.SetModemUp(entry); });
    };
    s.t.dialUp.onHangUp = [&](const std::string&) {
        s.t.pump.After(1.2, [&s] {
            s.t.dialUp.linkUp = false;
            s.t.dialUp.active.clear();
            s.t.dialUp.SetOffline();
        });
    };
    // Up after the dial; the stop comes during the query's answer wait.
    s.t.socket.onConnect = [](test::FakeSocket&, int) {};
    s.StopAt(6.0, kSigInt, "SIGINT");
    s.Run();
    EXPECT_EQ(s.status, 130);
    EXPECT_EQ(s.t.dialUp.hungUp, (Lines{"ISP"}));
    EXPECT_LE(s.t.clock.MonotonicSeconds(), 6.0 + 1.5 + 0.1);
    EXPECT_TRUE(test::InOrder(s.t.LogLines(), {"WARNING: stopped by signal SIGINT"}));
}

// A line that was up before the run, or one that somebody else brought up
// while the run had not begun to connect, is not the run's to hang up.
TEST(StopBySignal, ALineThatIsNotThisRunsStaysUp)
{
    {
        StopScene s("Y", "MODEM", "ISP");
        s.t.dialUp.SetModemUp("ISP");
        s.t.dialUp.defaultEntry = "ISP";
        s.t.socket.onConnect = [](test::FakeSocket&, int) {};
        s.StopAt(2.0, kSigTerm, "SIGTERM");
        s.Run();
        EXPECT_EQ(s.status, 143);
        EXPECT_TRUE(s.t.dialUp.hungUp.empty());
    }
    {
        StopScene s("N", "MODEM", "ISP");
        s.t.dialUp.SetModemUp("Other");
        s.t.dialUp.defaultEntry = "Other";
        s.StopAt(2.0, kSigHup, "SIGHUP");  // during the start delay
        s.Run();
        EXPECT_EQ(s.status, 129);
        EXPECT_TRUE(s.t.dialUp.hungUp.empty());
    }
}

TEST(StopBySignal, ASaveThatFailsIsStillLogged)
{
    StopScene s("N", "LAN");
    s.t.dialUp.SetLan();
    s.t.pump.At(1.0, [&] { s.t.env.folders.insert(s.t.SettingsPath()); });
    s.StopAt(2.0, kSigTerm, "SIGTERM");
    s.Run();
    EXPECT_EQ(s.status, 143);
    EXPECT_TRUE(test::InOrder(s.t.LogLines(), {"WARNING: stopped by signal SIGTERM",
                                               "WARNING: the settings could not be saved: /app/Veltrane.INI: Is a "
                                               "directory (error 21)"}));
}

// The configuration dialog at start-up: no run, so no log; nothing saved,
// as when the dialog's close box closes it.
TEST(StopBySignal, DuringAConfigurationStartNothingIsLoggedOrSaved)
{
    TestApp t;
    const std::string settings = "[Main]\r\nNTPServer=x\r\nDelay=9\r\nQuietMode=y\r\n";
    t.WriteSettings(settings);
    t.env.commandLine = "config";
    t.pump.At(1.0, [&] {
        t.windows.FindForm("frmVELConfigure")->Click("chkOnlyIfConnected");
        StopBySignal(t.app, kSigTerm, "SIGTERM");
    });
    try {
        ProgramMain(t.app);
        FAIL() << "the program ended by itself";
    } catch (const ProcessEnded& ended) {
        EXPECT_EQ(ended.status, 143);
    }
    EXPECT_EQ(t.env.files.count(t.LogPath()), 0u);
    EXPECT_EQ(t.SettingsText(), settings);
}

}  // namespace
}  // namespace vel
