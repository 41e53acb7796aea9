// Which host, over which protocol: the entry's prefix, the fallback from a
// silent TCP 13 to NTP, and the hosts the program once listed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/run_sync.h"
#include "support/sntp_peer.h"
#include "support/test_app.h"
#include "timesource/time_query.h"
#include "timesource/time_servers.h"

namespace vel {
namespace {

using test::FakeSocket;
using Lines = std::vector<std::string>;

const std::string kNistLine = "\n60711 25-02-03 08:06:55 00 0 0  50.0 UTC(NIST) * \n";

struct QueryScene {
    test::TestApp t;
    test::SntpPeer ntp{t.clock, t.pump, t.datagram};
    std::vector<std::string> tcpHosts;  // every TCP connect's host

    explicit QueryScene(const std::string& entry)
    {
        t.app.settings.NTPServer = entry;
        TcpRefused();
    }
    void Tcp(std::function<void(FakeSocket&, int)> peer)
    {
        t.socket.onConnect = [this, peer](FakeSocket& socket, int attempt) {
            tcpHosts.push_back(socket.remoteHost);
            if (peer)
                peer(socket, attempt);
        };
    }
    void TcpRefused()
    {
        Tcp([](FakeSocket& socket, int) {
            socket.DeliverError(platform::SocketFailure::Refused, "Connection refused");
        });
    }
    void TcpAnswers(const std::string& line)
    {
        Tcp([line](FakeSocket& socket, int) { socket.DeliverData(line); });
    }
    bool Ask() { return GetServerTime(t.app); }
    // The log's lines after its start marker.
    Lines Logged()
    {
        const Lines log = t.LogLines();
        return Lines(log.begin() + (log.empty() ? 0 : 1), log.end());
    }
};

TEST(ServerEntries, ProtocolAndHost)
{
    struct Case {
        std::string entry;
        TimeProtocol protocol;
        std::string host;
    };
    const Case cases[] = {
        {"time-a-g.nist.gov (NIST, Gaithersburg, MD)", TimeProtocol::Unnamed, "time-a-g.nist.gov"},
        {"ntp:pool.ntp.org", TimeProtocol::Ntp, "pool.ntp.org"},
        {"NTP:time.example.com (the office)", TimeProtocol::Ntp, "time.example.com"},
        {"daytime:time.nist.gov", TimeProtocol::Daytime, "time.nist.gov"},
        {"https:www.example.org", TimeProtocol::Https, "www.example.org"},
        {"ntp:", TimeProtocol::Ntp, ""},
        {"::1", TimeProtocol::Unnamed, "::1"},
        {"ntp:fe80::1", TimeProtocol::Ntp, "fe80::1"},
        {"sntp:host", TimeProtocol::Unnamed, "sntp:host"},
        {" ntp:host", TimeProtocol::Unnamed, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const ServerEntry entry = ReadServerEntry(c.entry);
        EXPECT_EQ(entry.protocol, c.protocol);
        EXPECT_EQ(entry.host, c.host);
    }
}

TEST(ServerEntries, NistsServersAndTheRetiredOnes)
{
    for (const char* host : {"time.nist.gov", "TIME-A-B.NIST.GOV", "utcnist2.colorado.edu", "129.6.15.28"})
        EXPECT_TRUE(IsNistServer(host)) << host;
    for (const char* host : {"pool.ntp.org", "nist.gov.example.com", "colorado.edu", "129.6.150.1"})
        EXPECT_FALSE(IsNistServer(host)) << host;
    for (const char* host : {"nist1.datum.com", "tick.usno.navy.mil", "time-nw.nist.gov"})
        EXPECT_NE(WhyRetired(host), "") << host;
    EXPECT_EQ(WhyRetired("time-a-g.nist.gov"), "");
    EXPECT_TRUE(IsListedServer("utcnist.colorado.edu"));
    EXPECT_FALSE(IsListedServer("time.example.com"));
}

TEST(TimeQuery, ABareHostSilentOnTcp13IsAskedOverNtpOnce)
{
    struct Case {
        const char* name;
        std::string entry;
        std::string fallback;  // NTPFallback
        bool tcpRefuses;       // else silent
        bool asked;            // over NTP
    };
    const Case cases[] = {
        {"refused", "192.0.2.7 (an office server)", "", true, true},
        {"silent", "192.0.2.7", "Y", false, true},
        {"turned off", "192.0.2.7", "N", true, false},
        {"turned off in any other way", "192.0.2.7", "no", true, false},
        {"daytime: named", "daytime:192.0.2.7", "", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueryScene s(c.entry);
        s.t.app.settings.NTPFallback = c.fallback;
        if (!c.tcpRefuses)
            s.Tcp(nullptr);
        EXPECT_EQ(s.Ask(), c.asked);
        EXPECT_EQ(s.t.datagram.opens, c.asked ? 1 : 0);
        if (c.asked) {
            EXPECT_EQ(s.t.datagram.remoteHost, "192.0.2.7");
            EXPECT_EQ(s.Logged(), (Lines{kAskedOverNtpText, "the server answered over NTP (stratum 1)"}));
        } else {
            EXPECT_TRUE(s.t.LogLines().empty());
        }
        EXPECT_EQ(s.tcpHosts.size(), c.tcpRefuses ? 1u : 3u);
    }
}

TEST(TimeQuery, NoFallbackWhereTcp13AnswersOrTheHostIsUnknown)
{
    QueryScene invalid("192.0.2.7");
    invalid.TcpAnswers("garbage\r\n");
    EXPECT_FALSE(invalid.Ask());
    EXPECT_EQ(invalid.t.app.query.TimeError, "NTP server returned invalid time: garbage\\r\\n");
    EXPECT_EQ(invalid.t.datagram.opens, 0);

    QueryScene unknown("time.example.com");
    unknown.Tcp(
        [](FakeSocket& socket, int) { socket.DeliverError(platform::SocketFailure::HostNotFound, "Host not found"); });
    EXPECT_FALSE(unknown.Ask());
    EXPECT_EQ(unknown.t.app.query.TimeError, "winsock error - 11001 Host not found");
    EXPECT_EQ(unknown.t.datagram.opens, 0);
    EXPECT_TRUE(unknown.t.LogLines().empty());
}

TEST(TimeQuery, BothWaysFailingSaysBoth)
{
    QueryScene s("192.0.2.7");
    s.ntp.refuse = true;
    EXPECT_FALSE(s.Ask());
    EXPECT_EQ(s.t.app.query.TimeError,
              "winsock error - 10061 Connection refused; over NTP: winsock error - 10061 Connection refused");
    EXPECT_EQ(s.t.app.query.ServerTime, platform::LocalDateTime{});
}

TEST(TimeQuery, AnNtpEntryAsksNothingOverTcp)
{
    QueryScene s("ntp:pool.ntp.org (the pool)");
    ASSERT_TRUE(s.Ask());
    EXPECT_TRUE(s.tcpHosts.empty());
    EXPECT_EQ(s.t.datagram.remoteHost, "pool.ntp.org");
    EXPECT_EQ(s.Logged(), (Lines{"the server answered over NTP (stratum 1)"}));
}

TEST(TimeQuery, HttpsIsNotBuiltYetAndSaysSo)
{
    QueryScene s("https:www.example.org");
    EXPECT_FALSE(s.Ask());
    EXPECT_EQ(s.t.app.query.TimeError, "the https: protocol is not supported by this version of Veltrane");
    EXPECT_TRUE(s.tcpHosts.empty());
    EXPECT_EQ(s.t.datagram.opens, 0);
}

TEST(TimeQuery, ANistServerIsAskedOverNtpFourSecondsAfterItsLastConnect)
{
    QueryScene s("time-a-g.nist.gov (NIST, Gaithersburg, MD)");
    ASSERT_TRUE(s.Ask());
    ASSERT_FALSE(s.ntp.requestTimes.empty());
    EXPECT_DOUBLE_EQ(s.ntp.requestTimes[0], 4.0);
}

TEST(TimeQuery, TheHostsTheProgramOnceListed)
{
    struct Case {
        const char* name;
        std::string entry;
        bool notFound;  // the entry's own host cannot be found
        Lines tcpHosts;
        std::string warning;
    };
    const Case cases[] = {
        {"a retired one is never asked",
         "nist1.datum.com (Datum, San Jose, CA)",
         false,
         {"time.nist.gov"},
         "WARNING: the server nist1.datum.com no longer serves the time (Datum no longer runs a NIST server); "
         "asking time.nist.gov instead"},
        {"the old default",
         "tick.usno.navy.mil (US Naval Observatory, Washington, DC)",
         false,
         {"time.nist.gov"},
         "WARNING: the server tick.usno.navy.mil no longer serves the time (the Naval Observatory answers over NTP "
         "only, and only to servers); asking time.nist.gov instead"},
        {"a listed one not found",
         "utcnist.colorado.edu (University of Colorado, Boulder)",
         true,
         {"utcnist.colorado.edu", "utcnist.colorado.edu", "utcnist.colorado.edu", "time.nist.gov"},
         "WARNING: the server utcnist.colorado.edu was not found (winsock error - 11001 Host not found); asking "
         "time.nist.gov instead"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueryScene s(c.entry);
        s.Tcp([&c](FakeSocket& socket, int) {
            if (c.notFound && socket.remoteHost != kFallbackServerHost)
                socket.DeliverError(platform::SocketFailure::HostNotFound, "Host not found");
            else
                socket.DeliverData(kNistLine);
        });
        ASSERT_TRUE(s.Ask());
        EXPECT_EQ(s.tcpHosts, c.tcpHosts);
        EXPECT_EQ(s.Logged(), Lines{c.warning});
        EXPECT_EQ(s.t.app.query.askAgainAfterSeconds, 4.0);
    }
}

// The whole run over NTP: the clock is set by the precise difference, and
// the log says which protocol answered and how precisely.
TEST(TimeQuery, ARunOverNtpSetsTheClock)
{
    QueryScene s("ntp:pool.ntp.org");
    Settings& settings = s.t.app.settings;
    settings.Delay = "3";
    settings.DelaySeconds = 3;
    settings.Tolerance = 30;
    settings.QuietMode = "Y";
    settings.ConnectionType = "LAN";
    s.t.dialUp.SetLan();
    s.ntp.outbound = s.ntp.transit = 0.020;
    s.ntp.PcAheadBy(95.0);
    RunSync(s.t.app);
    const Lines log = s.t.LogLines();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[3], "starting connect to ntp:pool.ntp.org");
    EXPECT_EQ(log[4], "the server answered over NTP (stratum 1)");
    EXPECT_EQ(log[5], "system clock off by 1 minute 35 seconds");
    EXPECT_EQ(log[6], "measured to within 20 ms over 4 answers");
    ASSERT_EQ(s.t.clock.sets.size(), 1u);
    EXPECT_NEAR(platform::ToDouble(s.t.clock.sets[0] - s.ntp.TrueTime()), 0, 1e-3);
    EXPECT_EQ(s.t.app.exitStatus, ExitStatus::Ok);
}

}  // namespace
}  // namespace vel
