// Whole runs over the fakes, from the start to the closed window: what each
// kind of run logs, shows and how long it takes, in virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/local_date_time.h"
#include "run/entry.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::FakeSocket;
using test::InOrder;
using test::TestApp;
using Lines = std::vector<std::string>;

constexpr const char* kServer = "127.0.0.1 (local test server)";

// A NIST answer for the given UTC time (the virtual clock's zone is UTC).
std::string NistAnswer(const platform::LocalDateTime& utc)
{
    char text[80];
    std::snprintf(text, sizeof text, "\n60709 %02d-%02d-%02d %02d:%02d:%02d 00 0 0  50.0 UTC(NIST) * \n",
                  utc.year % 100, utc.month, utc.day, utc.hour, utc.minute, utc.second);
    return text;
}

// Refused on TCP 13, the server is asked over NTP, where nobody listens either.
const std::string kRefusedBothWays =
    "ERROR: winsock error - 10061 Connection refused; over NTP: winsock error - 10061 Connection refused";

struct RunScene {
    TestApp t;
    double connectedAt = -1;  // monotonic time of the first connect

    explicit RunScene(const std::string& quietMode, const std::string& delay = "5")
    {
        t.WriteSettings(std::string("[Main]\r\nNTPServer=") + kServer + "\r\nDelay=" + delay +
                        "\r\nTolerance=30\r\nPCOffset=0\r\nConnectionType=LAN\r\nQuietMode=" + quietMode + "\r\n");
        t.dialUp.SetLan();
    }

    // The server answers at once with the PC clock's time less `pcAhead` seconds.
    void ServerAnswers(std::int64_t pcAhead)
    {
        t.socket.onConnect = [this, pcAhead](FakeSocket& socket, int) {
            Connected();
            socket.DeliverData(NistAnswer(platform::AddSeconds(t.clock.Now().time, -pcAhead)));
        };
    }
    void ServerRefuses()
    {
        t.socket.onConnect = [this](FakeSocket& socket, int) {
            Connected();
            socket.DeliverError(platform::SocketFailure::Refused, "Connection refused");
        };
    }
    void ServerSilent()
    {
        t.socket.onConnect = [this](FakeSocket&, int) { Connected(); };
    }
    void Connected()
    {
        if (connectedAt < 0)
            connectedAt = t.clock.MonotonicSeconds();
    }

    ExitStatus Run() { return ProgramMain(t.app); }
    platform::HeadlessForm& Window() { return *t.Window(); }
};

TEST(RunSync, CancelDuringTheStartDelayStopsBeforeAnyConnection)
{
    RunScene s("N");
    s.ServerAnswers(0);
    s.t.pump.At(1.5, [&] { s.Window().Click("cmdCancel"); });
    EXPECT_EQ(s.Run(), ExitStatus::Cancelled);
    EXPECT_TRUE(InOrder(s.t.LogLines(), {"*** VEL started ***", "ERROR: user cancelled before connect started"}));
    EXPECT_EQ(s.t.socket.connects, 0);
    EXPECT_TRUE(s.t.dialUp.dialled.empty());
    EXPECT_FALSE(s.Window().IsVisible());
    EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 2.0);  // the end of the second the click came in
}

TEST(RunSync, GoAndCancelInTheSameSecondGoWins)
{
    RunScene s("N");
    s.ServerAnswers(0);
    s.t.pump.At(1.2, [&] { s.Window().Click("cmdGo"); });
    s.t.pump.At(1.4, [&] { s.Window().Click("cmdCancel"); });
    EXPECT_EQ(s.Run(), ExitStatus::Ok);
    EXPECT_DOUBLE_EQ(s.connectedAt, 2.0);
    EXPECT_THAT(s.t.LogLines(), testing::Contains("system clock correct"));
}

TEST(RunSync, WindowRunWithTheClockOffIsCorrectedAndShowsEachStep)
{
    RunScene s("N");
    s.ServerAnswers(100);
    std::string label, box, button;
    platform::PointerShape pointer{};
    s.t.pump.At(2.5, [&] {
        label = s.Window().Text("lblClockStatus");
        box = s.Window().Text("txtStatus");
        button = s.Window().Text("cmdCancel");
        pointer = s.t.windows.Pointer();
    });
    std::string boxAtQuery;
    bool goEnabled = true, configureEnabled = true;
    auto answer = s.t.socket.onConnect;
    s.t.socket.onConnect = [&](FakeSocket& socket, int attempt) {
        boxAtQuery = s.Window().Text("txtStatus");
        goEnabled = s.Window().IsEnabled("cmdGo");
        configureEnabled = s.Window().IsEnabled("cmdConfigure");
        answer(socket, attempt);
    };

    EXPECT_EQ(s.Run(), ExitStatus::Ok);

    EXPECT_EQ(label, "Waiting to start connection");
    EXPECT_EQ(box,
              "Connection will initiate in 3 secs.  To cancel out of program, click CANCEL.  To connect now, "
              "click GO.");
    EXPECT_EQ(button, "&Cancel");
    EXPECT_EQ(pointer, platform::PointerShape::Busy);
    EXPECT_EQ(boxAtQuery, std::string("Getting current time from ") + kServer);
    EXPECT_FALSE(goEnabled);
    EXPECT_FALSE(configureEnabled);

    EXPECT_DOUBLE_EQ(s.connectedAt, 5.0);  // right after the whole start delay
    EXPECT_TRUE(InOrder(s.t.LogLines(),
                        {"*** VEL started ***", "detected current connection via LAN",
                         std::string("starting connect to ") + kServer, "system clock off by 1 minute 40 seconds",
                         "the PC clock is 100050 ms ahead of the server, measured to within 2 ms over 1 answer",
                         "system clock corrected to 02.03.25 09:0*"}));
    EXPECT_FALSE(InOrder(s.t.LogLines(), {"started in quiet mode"}));
    ASSERT_EQ(s.t.clock.sets.size(), 1u);
    EXPECT_FALSE(s.Window().IsVisible());
    EXPECT_NE(s.t.SettingsText().find("OnlyIfConnected="), std::string::npos);  // saved at the close
}

// A run's lines, all of them: the one test of a whole log (the others look
// for their lines in order).
TEST(RunSync, QuietRunWithACorrectClockLogsItsLinesAndEndsThreeSecondsAfterTheAnswer)
{
    RunScene s("Y");
    s.ServerAnswers(10);
    EXPECT_EQ(s.Run(), ExitStatus::Ok);
    EXPECT_EQ(s.t.LogLines(),
              (Lines{"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                     std::string("starting connect to ") + kServer, "system clock correct",
                     "the PC clock is 10050 ms ahead of the server, measured to within 2 ms over 1 answer"}));
    EXPECT_DOUBLE_EQ(s.connectedAt, 0.0);  // no start delay
    EXPECT_NEAR(s.t.clock.MonotonicSeconds(), 3.0, 1e-6);
    EXPECT_FALSE(s.Window().WasShown());
    EXPECT_TRUE(s.t.clock.sets.empty());
}

TEST(RunSync, FailedQueryCountsDownTheDelayShowsWhyAndLogsTheError)
{
    RunScene s("N", "7");
    s.ServerRefuses();
    std::string label, box, button;
    s.t.pump.At(7.5, [&] {
        label = s.Window().Text("lblClockStatus");
        box = s.Window().Text("txtStatus");
        button = s.Window().Text("cmdCancel");
    });
    EXPECT_EQ(s.Run(), ExitStatus::NoTime);
    EXPECT_EQ(label, "Could not get current time! See .LOG file for details");
    EXPECT_EQ(box, "Program will exit in 7 secs.  To exit immediately, click QUIT.");
    EXPECT_EQ(button, "&Quit");
    EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 14.0);  // delay, then the exit countdown of the same length
    EXPECT_TRUE(InOrder(
        s.t.LogLines(),
        {"*** VEL started ***", "detected current connection via LAN", std::string("starting connect to ") + kServer,
         "the server does not answer on the Daytime port; asked it over NTP", kRefusedBothWays}));
    EXPECT_TRUE(s.t.windows.messages.empty());  // only with "debug"
}

TEST(RunSync, QuitEndsTheExitCountdownAtTheEndOfItsSecond)
{
    RunScene s("N", "7");
    s.ServerRefuses();
    s.t.pump.At(9.3, [&] { s.Window().Click("cmdCancel"); });
    EXPECT_EQ(s.Run(), ExitStatus::NoTime);
    EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 10.0);
    EXPECT_TRUE(InOrder(s.t.LogLines(), {kRefusedBothWays}));
}

TEST(RunSync, DebugInAnyCaseShowsTheErrorInABoxAfterTheExitCountdown)
{
    RunScene s("N");
    s.t.env.commandLine = "DEBUG";
    s.ServerRefuses();
    double shownAt = -1;
    s.t.windows.answerMessage = [&](const platform::MessageRecord&) {
        shownAt = s.t.clock.MonotonicSeconds();
        return platform::MessageResult::Ok;
    };
    EXPECT_EQ(s.Run(), ExitStatus::NoTime);
    ASSERT_EQ(s.t.windows.messages.size(), 1u);
    const platform::MessageRecord& box = s.t.windows.messages[0];
    EXPECT_EQ(box.text, kRefusedBothWays);
    EXPECT_TRUE(InOrder(s.t.LogLines(), {box.text}));
    EXPECT_EQ(box.buttons, platform::MessageButtons::Ok);
    EXPECT_DOUBLE_EQ(shownAt, 10.0);
}

// A Cancel (or the window's close) while the server is being asked fails the
// query and ends with the status of a cancel; the exit countdown that follows
// still runs its whole length, since every count clears the flag first.
TEST(RunSync, CancelDuringTheQueryFailsItAndEndsAsCancelled)
{
    for (const bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox);
        RunScene s("N");
        s.ServerSilent();
        s.t.pump.At(7.5, [&] {
            if (closeBox)
                s.Window().CloseBox();
            else
                s.Window().Click("cmdCancel");
        });
        EXPECT_EQ(s.Run(), ExitStatus::Cancelled);
        EXPECT_TRUE(InOrder(s.t.LogLines(), {"ERROR: User cancelled"}));
        EXPECT_EQ(s.t.socket.connects, 1);
        EXPECT_GE(s.t.clock.MonotonicSeconds(), 7.5 + 5.0);
        EXPECT_LE(s.t.clock.MonotonicSeconds(), 9.0 + 5.0);
    }
}

// The server entry from the settings file reaches the log (and standard
// error) escaped as the server's own text is; ordinary text stays as it is.
TEST(RunSync, TheServerEntryIsLoggedEscaped)
{
    const struct {
        std::string entry, logged;
    } cases[] = {
        {kServer, kServer},
        {"127.0.0.1 \x1b]0;owned\x07 (caf\xc3\xa9)\x7f", "127.0.0.1 \\x1B]0;owned\\x07 (caf\\xC3\\xA9)\\x7F"},
        {"127.0.0.1 back\\slash\ttab", "127.0.0.1 back\\\\slash\\ttab"},
    };
    for (const auto& c : cases) {
        RunScene s("Y");
        s.t.WriteSettings("[Main]\r\nNTPServer=" + c.entry + "\r\nQuietMode=Y\r\n");
        s.t.env.errorStream = platform::ErrorStream::Other;
        s.ServerRefuses();
        s.Run();
        const Lines lines = s.t.LogLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "starting connect to " + c.logged), lines.end()) << c.logged;
        EXPECT_NE(s.t.env.standardError.find("starting connect to " + c.logged + "\n"), std::string::npos);
    }
}

// ---- Settings that cannot be saved or read whole ------------------------------

TEST(RunSync, ASettingsSaveThatFailsAtTheEndOfTheRunIsLogged)
{
    RunScene s("N");
    s.ServerAnswers(0);
    s.t.pump.At(1.0, [&] { s.t.env.folders.insert(s.t.SettingsPath()); });  // a folder took the file's place
    EXPECT_EQ(s.Run(), ExitStatus::Ok);
    EXPECT_TRUE(InOrder(s.t.LogLines(), {"system clock correct",
                                         "WARNING: the settings could not be saved: "
                                         "/app/Veltrane.INI: Is a directory (error 21)"}));
    EXPECT_FALSE(s.Window().IsVisible());
}

TEST(RunSync, ASettingsFileBeyondTheReadersLimitIsAWarningInTheLog)
{
    RunScene s("Y");
    s.t.WriteSettings(std::string("[Main]\r\nQuietMode=Y\r\nConnectionType=LAN\r\nNTPServer=") + kServer + "\r\n" +
                      std::string(200, ';') + "\r\n");
    s.t.profile.SetSizeLimit(100);
    s.ServerAnswers(0);
    EXPECT_EQ(s.Run(), ExitStatus::Ok);
    EXPECT_TRUE(InOrder(s.t.LogLines(),
                        {"*** VEL started ***",
                         "WARNING: the settings file /app/Veltrane.INI is larger than 100 bytes; only the keys "
                         "within its first 100 bytes were read",
                         "started in quiet mode", "system clock correct",
                         "WARNING: the settings could not be saved: /app/Veltrane.INI: File too large (error 27)"}));
}

}  // namespace
}  // namespace vel
