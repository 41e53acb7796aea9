// The dial-up services over the fake dial-up networking, in virtual time.
#include "connection/dun_library.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "log/log.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::TestApp;
using Lines = std::vector<std::string>;

Lines Logged(TestApp& t)
{
    Lines lines = t.LogLines();
    std::erase(lines, "*** VEL started ***");
    return lines;
}

TEST(OnlineState, OnlineLooksOnlyAtTheResultAndModemOnlyAtTheFlag)
{
    struct Case {
        platform::ConnectionState state;
        bool online;
        bool modem;
    };
    const Case cases[] = {
        {{.online = true, .lan = true, .dialUpInstalled = true}, true, false},
        {{.online = true, .modem = true}, true, true},
        {{.modem = true}, false, true},
        {{.offline = true}, false, false},
        {{.online = true}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        TestApp t;
        t.dialUp.state = c.state;
        EXPECT_EQ(IsInternetConnected(t.app), c.online);
        EXPECT_EQ(IsModemConnection(t.app), c.modem);
    }
}

TEST(GetActiveConnection, ReportsOnlyTheFirstListedConnection)
{
    TestApp t;
    std::int16_t status = 7;
    std::string name = "stale";
    GetActiveConnection(t.app, status, name);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(name, "");

    t.dialUp.active = {"First", "Second"};
    GetActiveConnection(t.app, status, name);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(name, "First");

    t.dialUp.linkUp = true;
    GetActiveConnection(t.app, status, name);
    EXPECT_EQ(status, 2);
    EXPECT_EQ(name, "First");

    // A link without a listed connection is no active connection.
    t.dialUp.active.clear();
    GetActiveConnection(t.app, status, name);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(name, "");
}

TEST(ListDialUpEntries, SortedByPlainCharacterCodes)
{
    TestApp t;
    std::int16_t count = -1;
    Lines names{"stale"};
    ListDialUpEntries(t.app, count, names);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(names.empty());

    t.dialUp.entries = {"only one"};
    ListDialUpEntries(t.app, count, names);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(names, Lines{"only one"});

    t.dialUp.entries = {"beta", "Alpha", "alpha"};
    ListDialUpEntries(t.app, count, names);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(names, (Lines{"Alpha", "alpha", "beta"}));

    // Bytes beyond ASCII count as unsigned: after every ASCII letter.
    t.dialUp.entries = {"\xC3\x84rger", "zeta", "Zeta", "10 Mbit", " lead"};
    ListDialUpEntries(t.app, count, names);
    EXPECT_EQ(names, (Lines{" lead", "10 Mbit", "Zeta", "zeta", "\xC3\x84rger"}));
}

TEST(ListDialUpEntries, KeepsTheFirst256AndLeavesOutNamesThatCannotBeDialled)
{
    TestApp t;
    for (int i = 299; i >= 0; --i)
        t.dialUp.entries.push_back("entry " + std::to_string(1000 + i));
    std::int16_t count = 0;
    Lines names;
    ListDialUpEntries(t.app, count, names);
    EXPECT_EQ(count, 256);
    ASSERT_EQ(names.size(), 256u);
    EXPECT_EQ(names.front(), "entry 1044");  // the system's first 256 were 1299 down to 1044
    EXPECT_EQ(names.back(), "entry 1299");

    t.dialUp.entries = {"Good", "Say \"hi\"", "Tab\there", "Fine one"};
    ListDialUpEntries(t.app, count, names);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(names, (Lines{"Fine one", "Good"}));
}

TEST(GetDefaultConnectoid, IsThePlatformsDefaultEntry)
{
    TestApp t;
    EXPECT_EQ(GetDefaultConnectoid(t.app), "");
    t.dialUp.defaultEntry = "Home ISP";
    EXPECT_EQ(GetDefaultConnectoid(t.app), "Home ISP");
}

TEST(EntryNames, QuotesAndControlCharactersAreUnsafe)
{
    EXPECT_TRUE(IsSafeEntryName(""));
    EXPECT_TRUE(IsSafeEntryName("My ISP (night rate), 56k"));
    EXPECT_TRUE(IsSafeEntryName("O'Brien & Sons"));
    EXPECT_TRUE(IsSafeEntryName("M\xC3\xBCller \xE2\x82\xAC"));
    EXPECT_FALSE(IsSafeEntryName("My \"ISP\""));
    EXPECT_FALSE(IsSafeEntryName("\""));
    EXPECT_FALSE(IsSafeEntryName("a\tb"));
    EXPECT_FALSE(IsSafeEntryName("a\nb"));
    EXPECT_FALSE(IsSafeEntryName(std::string("a\0b", 3)));
    EXPECT_FALSE(IsSafeEntryName("a\x1b[2Jb"));
    EXPECT_FALSE(IsSafeEntryName("a\x7f"));
    EXPECT_EQ(PrintableEntryName("a\tb\r\n\x7f\"c"), "a?b???\"c");
}

TEST(StartDialer, HandsSafeNamesOnAndRefusesOthersWithAnError)
{
    TestApp t;
    StartDialer(t.app, "My ISP");
    EXPECT_EQ(t.dialUp.dialled, Lines{"My ISP"});
    EXPECT_TRUE(Logged(t).empty());

    StartDialer(t.app, "x\" /c evil \"");
    StartDialer(t.app, "line\nbreak");
    EXPECT_EQ(t.dialUp.dialled, Lines{"My ISP"});
    EXPECT_EQ(Logged(t), (Lines{"ERROR: dial-up entry not dialled: its name holds a double quote or a control "
                                "character (x\" /c evil \")",
                                "ERROR: dial-up entry not dialled: its name holds a double quote or a control "
                                "character (line?break)"}));
}

TEST(StartDialer, ANameTheDialerCannotTakeIsRefusedWithItsReason)
{
    TestApp t;
    t.dialUp.refusal = [](const std::string& entry) {
        return entry.front() == '-'
                   ? std::string("pon cannot take a name that starts with \"-\" (it would be an option)")
                   : std::string();
    };
    EXPECT_FALSE(StartDialer(t.app, "-quick"));
    EXPECT_TRUE(StartDialer(t.app, "quick"));
    EXPECT_EQ(t.dialUp.dialled, Lines{"quick"});
    EXPECT_EQ(Logged(t), Lines{"ERROR: dial-up entry not dialled: pon cannot take a name that starts with \"-\" (it "
                               "would be an option) (-quick)"});
}

TEST(PlatformWarnings, GoToTheLogOnceItIsOpenEachOnce)
{
    TestApp t;
    t.dialUp.SetLan();
    t.dialUp.entries = {"ISP"};
    t.dialUp.warnings = {"WARNING: NetworkManager does not answer"};

    // The configuration dialog lists entries before any run: no log is
    // opened for it, and the warning waits.
    std::int16_t count = 0;
    Lines names;
    ListDialUpEntries(t.app, count, names);
    EXPECT_FALSE(t.app.log.file);
    EXPECT_EQ(t.dialUp.warnings.size(), 1u);

    WriteLog(t.app, "run");
    EXPECT_TRUE(IsInternetConnected(t.app));
    t.dialUp.warnings = {"WARNING: second"};
    std::int16_t status = 0;
    std::string name;
    GetActiveConnection(t.app, status, name);
    EXPECT_FALSE(IsModemConnection(t.app));
    EXPECT_EQ(Logged(t), (Lines{"run", "WARNING: NetworkManager does not answer", "WARNING: second"}));
}

TEST(HangUpConnection, WaitsThreeSecondsThenWhileTheLinkIsReported)
{
    {
        // The link goes at once: the first wait alone.
        TestApp t;
        t.dialUp.SetModemUp("ISP");
        t.dialUp.onHangUp = [&t](const std::string&) { t.dialUp.SetOffline(), t.dialUp.linkUp = false; };
        HangUpConnection(t.app, "ISP");
        EXPECT_EQ(t.dialUp.hungUp, Lines{"ISP"});
        EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 3.0);
        EXPECT_TRUE(Logged(t).empty());
    }
    {
        // The link goes after 5.5 seconds: polled at 3, 4, 5 and 6.
        TestApp t;
        t.dialUp.SetModemUp("ISP");
        t.pump.At(5.5, [&t] { t.dialUp.linkUp = false; });
        HangUpConnection(t.app, "ISP");
        EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 6.0);
        EXPECT_TRUE(Logged(t).empty());
    }
    {
        // An entry that was not connected: nothing to wait for after the first wait.
        TestApp t;
        HangUpConnection(t.app, "Not connected");
        EXPECT_EQ(t.dialUp.hungUp, Lines{"Not connected"});
        EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 3.0);
    }
}

TEST(HangUpConnection, ALinkThatStaysUpEndsTheWaitAfterThirtySecondsWithAWarning)
{
    TestApp t;
    t.dialUp.SetModemUp("Other line");
    HangUpConnection(t.app, "ISP");
    EXPECT_EQ(t.dialUp.hungUp, Lines{"ISP"});
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 33.0);
    EXPECT_EQ(Logged(t), Lines{"WARNING: a dial-up link is still up 30 seconds after hanging up \"ISP\"; no "
                               "longer waiting for it to go down"});

    // A link that goes just before the bound ends the wait without a warning.
    TestApp u;
    u.dialUp.SetModemUp("ISP");
    u.pump.At(32.5, [&u] { u.dialUp.linkUp = false; });
    HangUpConnection(u.app, "ISP");
    EXPECT_DOUBLE_EQ(u.clock.MonotonicSeconds(), 33.0);
    EXPECT_TRUE(Logged(u).empty());
}

TEST(HangUpConnection, EventsAreHandledDuringTheWait)
{
    TestApp t;
    t.dialUp.SetModemUp("ISP");
    int handled = 0;
    for (double at : {1.0, 2.0, 4.5})
        t.pump.At(at, [&handled] { ++handled; });
    t.pump.At(4.6, [&t] { t.dialUp.linkUp = false; });
    HangUpConnection(t.app, "ISP");
    EXPECT_EQ(handled, 3);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 5.0);
}

TEST(HangUpConnection, AHangUpThatCannotStartSaysWhyAndIsNotWaitedFor)
{
    const std::pair<std::string, std::string> cases[] = {
        {"ISP\" & shutdown -s & \"", "its name holds a double quote or a control character (ISP\" & shutdown -s & \")"},
        {"ISP", "poff was not found (the ppp package installs it) (ISP)"},
    };
    for (const auto& [entry, reason] : cases) {
        SCOPED_TRACE(entry);
        TestApp t;
        t.dialUp.SetModemUp("ISP");
        t.dialUp.hangUpFailure = [](const std::string&) {
            return std::string("poff was not found (the ppp package installs it)");
        };
        HangUpConnection(t.app, entry);
        EXPECT_TRUE(t.dialUp.hungUp.empty());
        EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 0.0);
        EXPECT_EQ(Logged(t), Lines{"ERROR: dial-up entry not hung up: " + reason});
    }
}

}  // namespace
}  // namespace vel
