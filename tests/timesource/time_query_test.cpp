// Which host, over which protocol: the entry's prefix, the fallback from a
// silent TCP 13 to NTP, and the hosts the program once listed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(TimeQuery, WhichProtocolAsks)
{
    enum class Tcp { Refuses, Silent, Garbage, Unknown };
    struct Case {
        const char* name;
        std::string entry;
        std::string fallback;  // NTPFallback
        Tcp tcp;
        bool ntpRefuses;
        std::size_t tcpConnects;
        int ntpOpens;
        std::string error;  // empty: answered
        Lines log;          // after the start marker
    };
    const std::string asked = kAskedOverNtpText;
    const std::string answered = "the server answered over NTP (stratum 1)";
    const std::string refused = "winsock error - 10061 Connection refused";
    const Case cases[] = {
        {"refused", "192.0.2.7 (an office server)", "", Tcp::Refuses, false, 1, 1, "", {asked, answered}},
        {"silent", "192.0.2.7", "Y", Tcp::Silent, false, 3, 1, "", {asked, answered}},
        {"refused both ways", "192.0.2.7", "", Tcp::Refuses, true, 1, 1, refused + "; over NTP: " + refused, {asked}},
        {"turned off", "192.0.2.7", "N", Tcp::Refuses, false, 1, 0, refused, {}},
        {"turned off in any other way", "192.0.2.7", "no", Tcp::Refuses, false, 1, 0, refused, {}},
        {"daytime: named", "daytime:192.0.2.7", "", Tcp::Refuses, false, 1, 0, refused, {}},
        {"TCP 13 answers",
         "192.0.2.7",
         "",
         Tcp::Garbage,
         false,
         3,
         0,
         "NTP server returned invalid time: garbage\\r\\n",
         {}},
        {"not found", "time.example.com", "", Tcp::Unknown, false, 3, 0, "winsock error - 11001 Host not found", {}},
        {"ntp: named", "ntp:pool.ntp.org (the pool)", "", Tcp::Refuses, false, 0, 1, "", {answered}},
        {"https: named",
         "https:www.example.org",
         "",
         Tcp::Refuses,
         false,
         0,
         0,
         "HTTPS server gave no usable Date: Host www.example.org not found",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QueryScene s(c.entry);
        s.t.app.settings.NTPFallback = c.fallback;
        s.ntp.refuse = c.ntpRefuses;
        s.Tcp([&c](FakeSocket& socket, int) {
            if (c.tcp == Tcp::Refuses)
                socket.DeliverError(platform::SocketFailure::Refused, "Connection refused");
            if (c.tcp == Tcp::Garbage)
                socket.DeliverData("garbage\r\n");
            if (c.tcp == Tcp::Unknown)
                socket.DeliverError(platform::SocketFailure::HostNotFound, "Host not found");
        });
        EXPECT_EQ(s.Ask(), c.error.empty());
        EXPECT_EQ(s.t.app.query.TimeError, c.error);
        EXPECT_EQ(s.tcpHosts.size(), c.tcpConnects);
        EXPECT_EQ(s.t.datagram.opens, c.ntpOpens);
        EXPECT_EQ(s.Logged(), c.log);
        EXPECT_EQ(s.t.datagram.remoteHost, c.ntpOpens > 0 ? ReadServerEntry(c.entry).host : "");
        EXPECT_EQ(s.t.app.query.ServerTime == platform::LocalDateTime{}, !c.error.empty());
    }
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

}  // namespace
}  // namespace vel
