// The NTP client over the fake UDP socket, against SntpPeer, in virtual time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sntp_peer.h"
#include "support/test_app.h"
#include "timesource/sntp_client.h"

namespace vel {
namespace {

using test::SntpPeer;
using Kind = SntpPeer::Kind;
using Lines = std::vector<std::string>;

struct NtpScene {
    test::TestApp t;
    SntpPeer peer{t.clock, t.pump, t.datagram};

    NtpScene()
    {
        t.clock.SetUtcOffset(3600);
        peer.outbound = 0.010;
        peer.transit = 0.010;
        peer.PcAheadBy(95.25);
    }
    bool Ask(const std::string& host = "ntp.example.net") { return GetNtpTime(t.app, host, t.app.query); }
    const TimeQueryState& Query() const { return t.app.query; }
    // How far the server's instant, as measured, is from the true time at the arrival.
    double Error() const
    {
        const double pcAhead = 95.25;
        return platform::ToDouble(Query().answerInstant - Query().serverInstant) - pcAhead;
    }
};

TEST(NtpClient, FourRequestsTwoSecondsApartAndTheLeastDelayKept)
{
    NtpScene s;
    // The third request's way there is the shortest; the answers come back alike.
    s.peer.answerOf = [](int request) {
        SntpPeer::Answer answer;
        answer.outbound = request == 3 ? 0.002 : 0.150;
        return answer;
    };
    ASSERT_TRUE(s.Ask());
    EXPECT_EQ(s.peer.requestTimes, (std::vector<double>{0, 2, 4, 6}));
    EXPECT_EQ(s.Query().answers, 4);
    EXPECT_NEAR(platform::ToDouble(s.Query().bound), 0.006, 1e-6);
    // The asymmetry of the kept one (2 out, 10 back) is its only error.
    EXPECT_NEAR(s.Error(), 0.004, 1e-6);
    EXPECT_EQ(s.Query().ServerTime, platform::AddSeconds(platform::UtcDateTime(s.Query().serverInstant), 3600));
    EXPECT_FALSE(s.Query().onTimeAdvance);
    EXPECT_EQ(s.Query().ntpStratum, 1);
    EXPECT_EQ(s.t.datagram.remotePort, 123);
    EXPECT_EQ(s.t.datagram.lastReadLimit, 49u);
    EXPECT_FALSE(s.t.datagram.open);
}

TEST(NtpClient, SpacingAndCount)
{
    struct Case {
        const char* name;
        std::string host;
        std::string precise;
        std::vector<double> requests;
    };
    const Case cases[] = {
        {"a NIST server by name", "time-a-g.nist.gov", "Y", {0, 4, 8, 12}},
        {"a NIST server by address", "132.163.97.1", "", {0, 4, 8, 12}},
        {"Precise=N: one answer is enough", "ntp.example.net", "N", {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NtpScene s;
        s.t.app.settings.Precise = c.precise;
        ASSERT_TRUE(s.Ask(c.host));
        EXPECT_EQ(s.peer.requestTimes, c.requests);
    }
}

TEST(NtpClient, AnswersThatAreNotAnswersAreDropped)
{
    struct Case {
        const char* name;
        Kind kind;
        std::string error;  // empty: the other answers still give the time
    };
    const Case cases[] = {
        {"spoofed", Kind::Spoofed, "NTP server did not answer (answers dropped: 4 that answered no request of ours)"},
        {"47 bytes", Kind::Short, "NTP server did not answer (answers dropped: 4 malformed (47 bytes (48 expected)))"},
        {"49 bytes", Kind::Long, "NTP server did not answer (answers dropped: 4 malformed (49 bytes (48 expected)))"},
        {"silent", Kind::Silent, "NTP server did not answer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NtpScene s;
        s.peer.answer.kind = c.kind;
        EXPECT_FALSE(s.Ask());
        EXPECT_EQ(s.Query().TimeError, c.error);
        EXPECT_EQ(s.peer.requestTimes.size(), 4u);
        // 6 seconds of requests, then 3 for the last answer.
        EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 9.0);

        // Among good ones, they change nothing.
        NtpScene mixed;
        mixed.peer.answerOf = [&c](int request) {
            SntpPeer::Answer answer;
            if (request % 2 == 0)
                answer.kind = c.kind;
            return answer;
        };
        ASSERT_TRUE(mixed.Ask());
        EXPECT_EQ(mixed.Query().answers, 2);
        EXPECT_NEAR(mixed.Error(), 0, 1e-6);
    }
}

TEST(NtpClient, ACopyOfAnAnswerIsNoSecondAnswer)
{
    NtpScene s;
    s.peer.answer.kind = Kind::TwoCopies;
    ASSERT_TRUE(s.Ask());
    EXPECT_EQ(s.Query().answers, 4);
}

TEST(NtpClient, KissCodesAndUnsynchronisedServers)
{
    struct Case {
        const char* name;
        int badFrom;  // the request from which the answers are bad
        SntpPeer::Answer bad;
        bool answered;
        int requests;
        std::string error;
        Lines log;
    };
    auto kiss = [](const char* code) {
        SntpPeer::Answer a;
        a.kind = Kind::Kiss;
        a.kissCode = code;
        return a;
    };
    auto answer = [](int leap, int stratum) {
        SntpPeer::Answer a;
        a.leap = leap;
        a.stratum = stratum;
        return a;
    };
    const std::string rateLine =
        "WARNING: the NTP server ntp.example.net sent kiss code RATE (asked too often): it "
        "is not asked again in this run";
    const Case cases[] = {
        {"RATE at once",
         1,
         kiss("RATE"),
         false,
         1,
         "NTP server refused the time: kiss code RATE (asked too often)",
         {rateLine}},
        {"RATE after two answers", 3, kiss("RATE"), true, 3, "", {rateLine}},
        {"INIT", 1, kiss("INIT"), false, 1, "NTP server is not synchronised: kiss code INIT", {}},
        {"leap indicator 3", 1, answer(3, 1), false, 1, "NTP server is not synchronised: leap indicator 3", {}},
        {"losing its sync after an answer",
         2,
         answer(3, 2),
         false,
         2,
         "NTP server is not synchronised: leap indicator 3",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NtpScene s;
        s.peer.answerOf = [&c](int request) { return request >= c.badFrom ? c.bad : SntpPeer::Answer{}; };
        EXPECT_EQ(s.Ask(), c.answered);
        EXPECT_EQ(static_cast<int>(s.peer.requestTimes.size()), c.requests);
        EXPECT_EQ(s.Query().TimeError, c.error);
        const Lines log = s.t.LogLines();
        EXPECT_EQ(Lines(log.begin() + (log.empty() ? 0 : 1), log.end()), c.log);  // after the start marker
        if (c.answered) {
            EXPECT_EQ(s.Query().answers, c.badFrom - 1);
        }
    }
}

TEST(NtpClient, FailuresOfTheSocket)
{
    NtpScene refused;
    refused.peer.refuse = true;
    EXPECT_FALSE(refused.Ask());
    EXPECT_EQ(refused.Query().TimeError, "winsock error - 10061 Connection refused");
    EXPECT_EQ(refused.Query().timeFailure, platform::SocketFailure::Refused);
    EXPECT_EQ(refused.peer.requestTimes.size(), 1u);

    NtpScene unknown;
    unknown.t.datagram.unknownHosts = {"nowhere.example"};
    EXPECT_FALSE(unknown.Ask("nowhere.example"));
    EXPECT_EQ(unknown.Query().TimeError, "winsock error - 11001 Host not found");
    EXPECT_EQ(unknown.Query().timeFailure, platform::SocketFailure::HostNotFound);
    EXPECT_TRUE(unknown.peer.requestTimes.empty());
}

TEST(NtpClient, CancelEndsTheQuestions)
{
    NtpScene s;
    s.peer.answer.kind = Kind::Silent;
    s.t.pump.At(3.0, [&] { s.t.app.flags.UserCancelled = true; });
    EXPECT_FALSE(s.Ask());
    EXPECT_EQ(s.Query().TimeError, "User cancelled");
    EXPECT_EQ(s.peer.requestTimes.size(), 2u);
    EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 3.0);
}

}  // namespace
}  // namespace vel
