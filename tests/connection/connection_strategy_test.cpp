// The connection step over the fake dial-up networking, in virtual time.
#include "connection/connection_strategy.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "connection/dun_library.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::TestApp;
using Lines = std::vector<std::string>;

double Now(TestApp& t)
{
    return t.clock.MonotonicSeconds();
}

// The logged lines but the start marker.
Lines Logged(TestApp& t)
{
    Lines lines = t.LogLines();
    std::erase(lines, "*** VEL started ***");
    return lines;
}

// The dialer brings the entry's link up at once.
void DialerConnectsAtOnce(TestApp& t)
{
    t.dialUp.onStartDialer = [&t](const std::string& entry) { t.dialUp.SetModemUp(entry); };
}

// The dialer's connection shows up (not yet linked) `listedAfter` seconds
// after the dial, and its link comes up `upAfter` seconds after the dial
// (negative: never).
void DialerConnectsLater(TestApp& t, double listedAfter, double upAfter)
{
    t.dialUp.onStartDialer = [&t, listedAfter, upAfter](const std::string& entry) {
        t.pump.After(listedAfter, [&t, entry] { t.dialUp.active = {entry}; });
        if (upAfter >= 0)
            t.pump.After(upAfter, [&t, entry] { t.dialUp.SetModemUp(entry); });
    };
}

TEST(ConnectionType, OnlyTheFirstLetterCountsInEitherCase)
{
    // Offline, with an entry whose dialer connects at once: the three
    // choices differ in whether the LAN is checked and whether anything is
    // dialled.
    struct Case {
        const char* type;
        bool checksLan;
        bool dials;
    };
    const Case cases[] = {
        {"LAN", true, false}, {"lan", true, false},  {"Lan", true, false},   {"L", true, false},     {"l", true, false},
        {"Lx", true, false},  {"BOTH", true, true},  {"both", true, true},   {"Both", true, true},   {"B", true, true},
        {"b", true, true},    {"Bogus", true, true}, {"MODEM", false, true}, {"modem", false, true}, {"", false, true},
        {"X", false, true},   {"wifi", false, true}, {" LAN", false, true},  {"DSL", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("ConnectionType \"") + c.type + "\"");
        TestApp t;
        t.app.settings.ConnectionType = c.type;
        t.app.settings.Connectoid = "ISP";
        t.dialUp.SetOffline();
        DialerConnectsAtOnce(t);

        const bool connected = ConnectToInternet(t.app);

        EXPECT_EQ(connected, c.dials);
        EXPECT_EQ(t.dialUp.dialled, c.dials ? Lines{"ISP"} : Lines{});
        EXPECT_DOUBLE_EQ(Now(t), c.checksLan ? 6.0 : 0.0);
        Lines expected;
        if (c.checksLan)
            expected.push_back("ERROR: connection via LAN failed");
        if (c.dials)
            expected.push_back("connected successfully to ISP");
        EXPECT_EQ(Logged(t), expected);
        EXPECT_FALSE(t.app.AlreadyConnected);
    }
}

TEST(ConnectViaLAN, ThreeChecksTwoSecondsApartThenFailsWithoutDialling)
{
    TestApp t;
    t.app.settings.ConnectionType = "LAN";
    t.app.settings.Connectoid = "ISP";
    t.dialUp.SetOffline();

    EXPECT_FALSE(ConnectToInternet(t.app));
    EXPECT_DOUBLE_EQ(Now(t), 6.0);  // the pause follows the third check too
    EXPECT_TRUE(t.dialUp.dialled.empty());
    EXPECT_EQ(Logged(t), Lines{"ERROR: connection via LAN failed"});
    EXPECT_FALSE(t.app.AlreadyConnected);
}

TEST(ConnectViaLAN, ChecksAtZeroTwoAndFourSeconds)
{
    // A LAN that comes up after the third check is not seen; one that comes
    // up before it is, at the check itself.
    {
        TestApp t;
        t.dialUp.SetOffline();
        t.pump.At(4.5, [&t] { t.dialUp.SetLan(); });
        EXPECT_FALSE(ConnectViaLAN(t.app));
        EXPECT_DOUBLE_EQ(Now(t), 6.0);
    }
    {
        TestApp t;
        t.dialUp.SetOffline();
        t.pump.At(3.5, [&t] { t.dialUp.SetLan(); });
        EXPECT_TRUE(ConnectViaLAN(t.app));
        EXPECT_DOUBLE_EQ(Now(t), 4.0);
        EXPECT_EQ(Logged(t), Lines{"detected current connection via LAN"});
        EXPECT_TRUE(t.app.AlreadyConnected);
    }
}

TEST(ConnectViaLAN, LanFoundAtOnceNeverDials)
{
    TestApp t;
    t.app.settings.ConnectionType = "BOTH";
    t.app.settings.Connectoid = "ISP";
    t.dialUp.SetLan();

    EXPECT_TRUE(ConnectToInternet(t.app));
    EXPECT_DOUBLE_EQ(Now(t), 0.0);
    EXPECT_TRUE(t.dialUp.dialled.empty());
    EXPECT_EQ(Logged(t), Lines{"detected current connection via LAN"});
    EXPECT_TRUE(t.app.AlreadyConnected);
}

TEST(ConnectViaLAN, FallBackTypeWithAModemUpNamesTheActiveEntryAndDialsNothing)
{
    TestApp t;
    t.app.settings.ConnectionType = "B";
    t.app.settings.Connectoid = "ISP";
    t.dialUp.SetModemUp("Provider (evening)");
    t.dialUp.active.push_back("Second line");

    EXPECT_TRUE(ConnectToInternet(t.app));
    EXPECT_TRUE(t.dialUp.dialled.empty());
    EXPECT_EQ(Logged(t), Lines{"detected current connection via MODEM (Provider (evening))"});
    EXPECT_TRUE(t.app.AlreadyConnected);
}

TEST(ConnectViaModem, ModemReportedWithNoListedConnectionLogsEmptyParentheses)
{
    for (const char* type : {"LAN", "MODEM"}) {
        SCOPED_TRACE(type);
        TestApp t;
        t.app.settings.ConnectionType = type;
        t.app.settings.Connectoid = "ISP";
        t.dialUp.state = {.online = true, .modem = true};

        EXPECT_TRUE(ConnectToInternet(t.app));
        EXPECT_EQ(Logged(t), Lines{"detected current connection via MODEM ()"});
        EXPECT_TRUE(t.app.AlreadyConnected);
        EXPECT_TRUE(t.dialUp.dialled.empty());
    }
}

TEST(ConnectViaModem, ModemFlagAloneCountsEvenWhenNotOnline)
{
    // The modem test looks only at the flag, not at the online result.
    TestApp t;
    t.app.settings.ConnectionType = "MODEM";
    t.app.settings.Connectoid = "ISP";
    t.dialUp.state = {.modem = true};
    t.dialUp.active = {"ISP"};

    EXPECT_TRUE(ConnectToInternet(t.app));
    EXPECT_EQ(Logged(t), Lines{"detected current connection via MODEM (ISP)"});
    EXPECT_TRUE(t.dialUp.dialled.empty());
}

TEST(ConnectViaModem, DialUpOnlyDialsWhileOnlyALanIsUp)
{
    TestApp t;
    t.app.settings.ConnectionType = "MODEM";
    t.app.settings.Connectoid = "My ISP";
    t.dialUp.SetLan();
    DialerConnectsAtOnce(t);

    EXPECT_TRUE(ConnectToInternet(t.app));
    EXPECT_EQ(t.dialUp.dialled, Lines{"My ISP"});
    EXPECT_EQ(Logged(t), Lines{"connected successfully to My ISP"});
    EXPECT_FALSE(t.app.AlreadyConnected);  // the run hangs this one up
}

TEST(ConnectViaModem, NoEntryConfigured)
{
    for (const char* type : {"MODEM", "BOTH"}) {
        SCOPED_TRACE(type);
        TestApp t;
        t.app.settings.ConnectionType = type;
        t.dialUp.SetOffline();

        EXPECT_FALSE(ConnectToInternet(t.app));
        EXPECT_TRUE(t.dialUp.dialled.empty());
        Lines expected;
        if (std::string(type) == "BOTH")
            expected.push_back("ERROR: connection via LAN failed");
        expected.push_back("ERROR: no dialup connection configured");
        EXPECT_EQ(Logged(t), expected);
    }
}

TEST(DialConnectoid, LinkUpAtTheFirstPollSucceedsWithoutWaiting)
{
    TestApp t;
    t.dialUp.SetOffline();
    DialerConnectsAtOnce(t);

    EXPECT_TRUE(DialConnectoid(t.app, "ISP"));
    EXPECT_DOUBLE_EQ(Now(t), 0.0);
    EXPECT_EQ(t.dialUp.dialled, Lines{"ISP"});
    EXPECT_EQ(Logged(t), Lines{"connected successfully to ISP"});
}

TEST(DialConnectoid, NeverListedFailsAfterFifteenPolls)
{
    TestApp t;
    t.app.settings.ConnectionType = "MODEM";
    t.app.settings.Connectoid = "ISP";
    t.dialUp.SetOffline();

    EXPECT_FALSE(ConnectToInternet(t.app));
    EXPECT_DOUBLE_EQ(Now(t), 15.0);
    EXPECT_EQ(Logged(t), (Lines{"ERROR: connection failed to ISP", "ERROR: could not connect to any DUN"}));
}

TEST(DialConnectoid, ListedAtTheFifteenthPollStillGetsItsLinkWait)
{
    {
        // Listed just before the last poll of the first phase, up a minute later.
        TestApp t;
        t.dialUp.SetOffline();
        DialerConnectsLater(t, 13.5, 75.5);
        EXPECT_TRUE(DialConnectoid(t.app, "ISP"));
        EXPECT_DOUBLE_EQ(Now(t), 76.0);
    }
    {
        // Listed too late: the first phase is over.
        TestApp t;
        t.dialUp.SetOffline();
        DialerConnectsLater(t, 14.5, 15.0);
        EXPECT_FALSE(DialConnectoid(t.app, "ISP"));
        EXPECT_DOUBLE_EQ(Now(t), 15.0);
    }
}

TEST(DialConnectoid, LinkNeverUpGivesUpAfterOneHundredTwentyPolls)
{
    {
        // Listed at the fifteenth poll (14 s): the longest wait there is.
        TestApp t;
        t.dialUp.SetOffline();
        DialerConnectsLater(t, 13.5, -1);
        EXPECT_FALSE(DialConnectoid(t.app, "ISP"));
        EXPECT_DOUBLE_EQ(Now(t), 134.0);
        EXPECT_EQ(Logged(t), Lines{"ERROR: connection failed to ISP"});
    }
    {
        // Up just before the hundred-and-twentieth poll of the link wait.
        TestApp t;
        t.dialUp.SetOffline();
        DialerConnectsLater(t, 0.0, 118.5);
        EXPECT_TRUE(DialConnectoid(t.app, "ISP"));
        EXPECT_DOUBLE_EQ(Now(t), 119.0);
    }
}

TEST(DialConnectoid, ConnectionGoneDuringTheLinkWaitFailsAtOnce)
{
    TestApp t;
    t.app.settings.ConnectionType = "MODEM";
    t.app.settings.Connectoid = "ISP";
    t.dialUp.SetOffline();
    DialerConnectsLater(t, 2.0, -1);
    t.pump.At(9.5, [&t] { t.dialUp.active.clear(); });  // the dialer was closed

    EXPECT_FALSE(ConnectToInternet(t.app));
    EXPECT_DOUBLE_EQ(Now(t), 10.0);
    EXPECT_EQ(Logged(t), (Lines{"ERROR: connection failed to ISP", "ERROR: could not connect to any DUN"}));
}

TEST(DialConnectoid, CancelEndsTheWaitInEitherPhase)
{
    struct Case {
        const char* phase;
        double listedAfter;
        double cancelAt;
        double endsAt;
    };
    for (const Case c : {Case{"nothing listed yet", 20.0, 4.5, 5.0}, Case{"listed, link not up", 1.0, 30.5, 31.0}}) {
        SCOPED_TRACE(c.phase);
        TestApp t;
        t.app.settings.ConnectionType = "MODEM";
        t.app.settings.Connectoid = "ISP";
        t.dialUp.SetOffline();
        DialerConnectsLater(t, c.listedAfter, -1);
        t.pump.At(c.cancelAt, [&t] { t.app.flags.UserCancelled = true; });

        EXPECT_FALSE(ConnectToInternet(t.app));
        EXPECT_DOUBLE_EQ(Now(t), c.endsAt);
        EXPECT_EQ(Logged(t), (Lines{"ERROR: connection failed to ISP", "user cancelled out of connection"}));
    }
}

TEST(DialConnectoid, EachPollFirstHandlesPendingEvents)
{
    // A Cancel click already waiting in the queue is seen at the first poll.
    TestApp t;
    t.dialUp.SetOffline();
    t.pump.Post([&t] { t.app.flags.UserCancelled = true; });

    EXPECT_FALSE(DialConnectoid(t.app, "ISP"));
    EXPECT_DOUBLE_EQ(Now(t), 0.0);
}

TEST(DialConnectoid, LinkUpBeatsACancelOfTheSamePoll)
{
    TestApp t;
    t.dialUp.SetOffline();
    DialerConnectsLater(t, 0.0, 2.5);
    t.pump.At(2.5, [&t] { t.app.flags.UserCancelled = true; });

    EXPECT_TRUE(DialConnectoid(t.app, "ISP"));
    EXPECT_DOUBLE_EQ(Now(t), 3.0);
}

TEST(DialConnectoid, AnotherEntrysLinkCountsAsSuccessForTheEntryDialled)
{
    TestApp t;
    t.dialUp.SetOffline();
    t.pump.At(3.5, [&t] { t.dialUp.SetModemUp("Neighbour's line"); });

    EXPECT_TRUE(DialConnectoid(t.app, "ISP"));
    EXPECT_DOUBLE_EQ(Now(t), 4.0);
    EXPECT_EQ(Logged(t), Lines{"connected successfully to ISP"});
}

TEST(DialConnectoid, UnsafeNamesAreNeitherDialledNorWaitedFor)
{
    for (const std::string& name : {std::string("My \"ISP\""), std::string("ISP\" & calc & \""),
                                    std::string("ISP\tnight"), std::string("ISP\r\nx")}) {
        SCOPED_TRACE(name);
        TestApp t;
        t.app.settings.ConnectionType = "MODEM";
        t.app.settings.Connectoid = name;
        t.dialUp.SetOffline();
        DialerConnectsAtOnce(t);

        EXPECT_FALSE(ConnectToInternet(t.app));
        EXPECT_TRUE(t.dialUp.dialled.empty());
        EXPECT_DOUBLE_EQ(Now(t), 0.0);
        const Lines lines = Logged(t);
        EXPECT_TRUE(test::InOrder(
            lines, {"ERROR: dial-up entry not dialled: its name holds a double quote or a control character (*",
                    "ERROR: connection failed to " + PrintableEntryName(name), "ERROR: could not connect to any DUN"}));
        for (const std::string& line : lines) {  // the name's line ends and tabs make no line of their own
            EXPECT_EQ(line.rfind("ERROR: ", 0), 0u) << line;
            EXPECT_EQ(line.find_first_of("\t\r\n"), std::string::npos) << line;
        }
    }
}

TEST(DialConnectoid, ADialThatCannotStartSaysWhyAtOnce)
{
    // No entry of that name, a name the dialer cannot take, a dialer that
    // cannot be started: each reason as the platform gives it.
    const std::pair<std::string, std::string> cases[] = {
        {"Mobile", "there is no such entry: no pppd peer in /etc/ppp/peers has that name"},
        {"my isp", "pon cannot take a name with a blank in it"},
        {"ISP", "C:\\windows\\system32\\rasphone.exe could not be started: File not found (error 2)"},
    };
    for (const auto& [entry, reason] : cases) {
        SCOPED_TRACE(entry);
        TestApp t;
        t.app.settings.ConnectionType = "MODEM";
        t.app.settings.Connectoid = entry;
        t.dialUp.SetOffline();
        t.dialUp.refusal = [&](const std::string& name) { return name == entry ? reason : std::string(); };
        DialerConnectsAtOnce(t);

        EXPECT_FALSE(ConnectToInternet(t.app));
        EXPECT_TRUE(t.dialUp.dialled.empty());
        EXPECT_DOUBLE_EQ(Now(t), 0.0);  // no 15-second wait for a dial that never started
        EXPECT_EQ(Logged(t), (Lines{"ERROR: dial-up entry not dialled: " + reason + " (" + entry + ")",
                                    "ERROR: connection failed to " + entry, "ERROR: could not connect to any DUN"}));

        // Another name is dialled as before.
        t.app.settings.Connectoid = "my-isp";
        EXPECT_TRUE(ConnectToInternet(t.app));
        EXPECT_EQ(t.dialUp.dialled, Lines{"my-isp"});
    }
}

TEST(DialConnectoid, NamesWithBlanksAndLettersBeyondAsciiAreDialledAsTheyAre)
{
    TestApp t;
    t.dialUp.SetOffline();
    DialerConnectsAtOnce(t);
    const std::string name =
        "  Tele Nord \xC3\xBC"
        "ber Land ";
    EXPECT_TRUE(DialConnectoid(t.app, name));
    EXPECT_EQ(t.dialUp.dialled, Lines{name});
}

}  // namespace
}  // namespace vel
