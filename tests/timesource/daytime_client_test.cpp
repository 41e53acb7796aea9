#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/daytime_peer.h"
#include "support/test_app.h"
#include "timesource/daytime_answer.h"
#include "timesource/daytime_client.h"
#include "timesource/time_query.h"

namespace vel {
namespace {

using platform::LocalDateTime;
using test::FakeSocket;
using test::TestApp;

const std::string kAnswer = "\n60711 25-02-03 08:06:55 00 0 0  50.0 UTC(NIST) * \n";

struct ClientScene {
    TestApp t;
    std::vector<double> connectTimes;  // monotonic seconds of each connect

    ClientScene()
    {
        t.app.settings.NTPServer = "time.example.net (Example Time, Somewhere)";
        t.app.settings.NTPFallback = "N";  // the Daytime client alone (time_query_test has the fallback)
        t.clock.SetUtcOffset(3600);        // UTC+1
    }

    // The peer's part, called at every connect with the attempt number.
    void Peer(std::function<void(FakeSocket&, int)> peer)
    {
        t.socket.onConnect = [this, peer](FakeSocket& socket, int attempt) {
            connectTimes.push_back(t.clock.MonotonicSeconds());
            if (peer)
                peer(socket, attempt);
        };
    }
    // What the peer sends on the connection of `attempt`: nothing once the
    // program has moved on to another connection.
    void SendData(FakeSocket& socket, int attempt, double delay, std::string data)
    {
        t.pump.After(delay, [&socket, attempt, data] {
            if (socket.connects == attempt)
                socket.DeliverData(data);
        });
    }
    void SendError(FakeSocket& socket, int attempt, double delay, platform::SocketFailure failure,
                   std::string description, int systemNumber = 0)
    {
        t.pump.After(delay, [&socket, attempt, failure, description, systemNumber] {
            if (socket.connects == attempt)
                socket.DeliverError(failure, description, systemNumber);
        });
    }
    void AnswerAfter(double delay, std::string answer)
    {
        Peer([this, delay, answer](FakeSocket& socket, int attempt) { SendData(socket, attempt, delay, answer); });
    }
    void ErrorAfter(double delay, platform::SocketFailure failure, std::string description, int systemNumber = 0)
    {
        Peer([this, delay, failure, description, systemNumber](FakeSocket& socket, int attempt) {
            SendError(socket, attempt, delay, failure, description, systemNumber);
        });
    }
    void Silent() { Peer(nullptr); }
    const TimeQueryState& Query() const { return t.app.query; }
};

struct ClientTest : ::testing::Test, ClientScene {};

TEST_F(ClientTest, HostIsTheEntryUpToItsFirstBlank)
{
    EXPECT_EQ(ServerHost("time.example.net (Example Time, Somewhere)"), "time.example.net");
    EXPECT_EQ(ServerHost("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(ServerHost(" leading (blank)"), "");
    EXPECT_EQ(ServerHost(""), "");

    AnswerAfter(0.1, kAnswer);
    ASSERT_TRUE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.remoteHost, "time.example.net");
    EXPECT_EQ(t.socket.remotePort, 13);
}

TEST_F(ClientTest, AnswerGivesServerTimeAsLocalTimeAndTheArrivalTime)
{
    t.clock.Advance(0.4);
    // The handshake answered at once, the line arrives at 09:07:01.1 on the PC clock.
    Peer([this](FakeSocket& socket, int attempt) {
        socket.DeliverConnected();
        SendData(socket, attempt, 0.7, kAnswer);
    });
    ASSERT_TRUE(GetServerTime(t.app));
    EXPECT_EQ(Query().ServerTime, (LocalDateTime{2025, 2, 3, 9, 6, 55}));
    EXPECT_EQ(Query().AnswerTime, (LocalDateTime{2025, 2, 3, 9, 7, 1}));
    EXPECT_EQ(Query().ServerAnswer, kAnswer);
    // The same precisely: the reading at the arrival, and the on-time line's
    // second less its msADV (no transit: the handshake took no time).
    EXPECT_EQ(Query().answerInstant, platform::InstantOfUtc({2025, 2, 3, 8, 7, 1}, 100000000));
    EXPECT_EQ(Query().serverInstant, platform::InstantOfUtc({2025, 2, 3, 8, 6, 54}, 950000000));
    EXPECT_EQ(Query().answers, 1);
    EXPECT_EQ(Query().TimeError, "");
    EXPECT_FALSE(Query().WaitingForAnswer);
    EXPECT_EQ(t.socket.connects, 1);
    EXPECT_FALSE(t.socket.open);
    EXPECT_EQ(t.socket.lastReadLimit, 64u * 1024u);
}

TEST_F(ClientTest, RefusedStopsAfterOneAttempt)
{
    ErrorAfter(0.01, platform::SocketFailure::Refused, "Connection refused");
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 1);
    EXPECT_EQ(Query().TimeError, "winsock error - 10061 Connection refused");
    EXPECT_EQ(Query().timeFailure, platform::SocketFailure::Refused);  // what the decision read
    EXPECT_TRUE(Query().ServerTime.IsZero());
    EXPECT_FALSE(t.socket.open);
}

TEST_F(ClientTest, OtherSocketErrorsAreTriedThreeTimes)
{
    ErrorAfter(0.5, platform::SocketFailure::Reset, "The remote host closed the connection");
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 3);
    EXPECT_EQ(Query().TimeError, "winsock error - 10054 The remote host closed the connection");
    // Servers refuse clients that ask more often: 4 seconds from connect to connect.
    EXPECT_DOUBLE_EQ(connectTimes[1] - connectTimes[0], 4.0);
    EXPECT_DOUBLE_EQ(connectTimes[2] - connectTimes[1], 4.0);
}

TEST_F(ClientTest, ErrorWithoutDescriptionIsAnUnknownWinsockError)
{
    ErrorAfter(0.5, platform::SocketFailure::NetworkDown, "");
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 3);
    EXPECT_EQ(Query().TimeError, "unknown winsock error");
}

// Only a refusal the log names ends the attempts; a failure without a name
// shows the system's own number.
TEST(ClientSocketFailures, ARefusalTheLogNamesEndsTheAttempts)
{
    using F = platform::SocketFailure;
    const struct {
        platform::SocketError error;
        int attempts;
        const char* timeError;
        std::optional<F> kept;  // beside TimeError
    } cases[] = {
        {{F::Refused, ""}, 3, "unknown winsock error", std::nullopt},
        {{F::Other, "Network subsystem is unavailable", 10091},
         3,
         "winsock error - 10091 Network subsystem is unavailable",
         F::Other},
    };
    for (const auto& c : cases) {
        ClientScene scene;
        scene.ErrorAfter(0.5, c.error.failure, c.error.description, c.error.systemNumber);
        EXPECT_FALSE(GetServerTime(scene.t.app));
        EXPECT_EQ(scene.t.socket.connects, c.attempts) << c.timeError;
        EXPECT_EQ(scene.Query().TimeError, c.timeError);
        EXPECT_EQ(scene.Query().timeFailure, c.kept) << c.timeError;
    }
}

TEST_F(ClientTest, ALaterAttemptCanSucceed)
{
    Peer([this](FakeSocket& socket, int attempt) {
        if (attempt == 1)
            SendError(socket, attempt, 0.2, platform::SocketFailure::HostNotFound, "Host not found");
        else
            SendData(socket, attempt, 0.2, kAnswer);
    });
    EXPECT_TRUE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 2);
    EXPECT_EQ(Query().TimeError, "");
}

TEST_F(ClientTest, SilenceGivesThreeAttemptsOfTenToElevenSecondsWithoutSpinning)
{
    for (const double phase : {0.0, 0.3, 0.999}) {
        SCOPED_TRACE(phase);
        ClientScene c;
        c.t.clock.Advance(phase);
        c.Silent();
        const double start = c.t.clock.MonotonicSeconds();
        EXPECT_FALSE(GetServerTime(c.t.app));
        EXPECT_EQ(c.Query().TimeError, "Connection timed out");
        ASSERT_EQ(c.connectTimes.size(), 3u);
        const double end = c.t.clock.MonotonicSeconds();
        for (std::size_t i = 0; i < 3; ++i) {
            const double attemptEnd = i + 1 < 3 ? c.connectTimes[i + 1] : end;
            EXPECT_GE(attemptEnd - c.connectTimes[i], 10.0);
            EXPECT_LE(attemptEnd - c.connectTimes[i], 11.0);
        }
        EXPECT_GE(end - start, 30.0);
        EXPECT_LE(end - start, 33.0);
        // Each attempt's socket was closed at its time-out.
        EXPECT_EQ(c.t.socket.closes, 3);
        // It blocked on the event queue: a handful of passes, not thousands.
        EXPECT_LT(c.t.pump.DoEventsCalls(), 20);
    }
}

TEST_F(ClientTest, AnAnswerJustBeforeTheTimeOutCounts)
{
    AnswerAfter(10.9, kAnswer);
    EXPECT_TRUE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 1);
}

TEST_F(ClientTest, AnswerAfterTheTimeOutIsNotRead)
{
    // Each attempt's answer comes at 11.5 s, after its socket was closed.
    AnswerAfter(11.5, kAnswer);
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(Query().TimeError, "Connection timed out");
    EXPECT_EQ(Query().ServerAnswer, "");
}

TEST_F(ClientTest, WallClockJumpsDoNotChangeTheTimeOut)
{
    Peer([this](FakeSocket&, int attempt) {
        if (attempt == 1) {
            t.pump.After(3, [this] { t.clock.JumpWallClock(3600); });   // forward an hour
            t.pump.After(5, [this] { t.clock.JumpWallClock(-7200); });  // back two
        }
    });
    EXPECT_FALSE(GetServerTime(t.app));
    ASSERT_EQ(connectTimes.size(), 3u);
    EXPECT_GE(connectTimes[1] - connectTimes[0], 10.0);
    EXPECT_LE(connectTimes[1] - connectTimes[0], 11.0);
    EXPECT_EQ(Query().TimeError, "Connection timed out");
}

TEST_F(ClientTest, InvalidAnswersThreeTimesReportTheLastOne)
{
    Peer([this](FakeSocket& socket, int attempt) {
        SendData(socket, attempt, 0.3, "bad answer " + std::to_string(attempt) + "\r\n");
    });
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 3);
    // The server's bytes are shown escaped, so the log line stays one line.
    EXPECT_EQ(Query().TimeError, "NTP server returned invalid time: bad answer 3\\r\\n");
    EXPECT_EQ(Query().ServerAnswer, "bad answer 3\r\n");
}

TEST_F(ClientTest, AnUnhealthyServerIsNotBelievedAndAskedAgainFourSecondsLater)
{
    const std::string unhealthy = "\n60711 25-02-03 08:06:55 00 0 2  50.0 UTC(NIST) * \n";
    Peer([this, unhealthy](FakeSocket& socket, int attempt) {
        SendData(socket, attempt, 0.3, attempt < 3 ? unhealthy : kAnswer);
    });
    EXPECT_TRUE(GetServerTime(t.app));
    ASSERT_EQ(connectTimes.size(), 3u);
    EXPECT_DOUBLE_EQ(connectTimes[1], 4.0);
    EXPECT_DOUBLE_EQ(connectTimes[2], 8.0);

    ClientScene never;
    never.Peer(
        [&never, unhealthy](FakeSocket& socket, int attempt) { never.SendData(socket, attempt, 0.3, unhealthy); });
    EXPECT_FALSE(GetServerTime(never.t.app));
    EXPECT_EQ(never.Query().TimeError, "NTP server returned invalid time: " + PrintableAnswer(unhealthy));
}

TEST(ClientHealth, HealthZeroAndOneAreBelievedTwoAndFourAreNot)
{
    for (const int health : {0, 1, 2, 4}) {
        SCOPED_TRACE(health);
        TestApp t;
        t.app.settings.NTPServer = "time.example.net";
        test::DaytimePeer server(t.clock, t.pump, t.socket);
        server.health = health;
        const bool believed = health < 2;
        EXPECT_EQ(GetServerTime(t.app), believed);
        EXPECT_EQ(t.socket.connects, believed ? 1 : 3);
        if (!believed) {
            EXPECT_EQ(t.app.query.TimeError.rfind("NTP server returned invalid time: \\n", 0), 0u)
                << t.app.query.TimeError;
        }
    }
}

TEST_F(ClientTest, CancelWhileWaitingForTheNextAttemptEndsTheQueryAtOnce)
{
    {
        SCOPED_TRACE("after an invalid answer");
        ClientScene c;
        c.AnswerAfter(0.3, "junk");
        c.t.pump.At(2.0, [&c] { c.t.app.flags.UserCancelled = true; });
        EXPECT_FALSE(GetServerTime(c.t.app));
        EXPECT_EQ(c.Query().TimeError, "User cancelled");
        EXPECT_EQ(c.t.socket.connects, 1);
        EXPECT_DOUBLE_EQ(c.t.clock.MonotonicSeconds(), 2.0);
    }
    {
        SCOPED_TRACE("after a socket error, whose text wins");
        ClientScene c;
        c.ErrorAfter(0.5, platform::SocketFailure::Reset, "Connection reset by peer");
        c.t.pump.At(3.5, [&c] { c.t.app.flags.UserCancelled = true; });
        EXPECT_FALSE(GetServerTime(c.t.app));
        EXPECT_EQ(c.Query().TimeError, "winsock error - 10054 Connection reset by peer");
        EXPECT_EQ(c.t.socket.connects, 1);
        EXPECT_DOUBLE_EQ(c.t.clock.MonotonicSeconds(), 3.5);
    }
    {
        SCOPED_TRACE("the wait itself blocks on the event queue");
        ClientScene c;
        c.AnswerAfter(0.3, "junk");
        EXPECT_FALSE(GetServerTime(c.t.app));
        EXPECT_EQ(c.connectTimes, (std::vector<double>{0.0, 4.0, 8.0}));
        EXPECT_LT(c.t.pump.DoEventsCalls(), 20);
    }
}

TEST_F(ClientTest, AnEmptyArrivalIsAnInvalidAnswer)
{
    AnswerAfter(0.3, "");
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 3);
    EXPECT_EQ(Query().TimeError, "NTP server returned invalid time: ");
}

TEST_F(ClientTest, AnInvalidAnswerOfAnEarlierAttemptIsReportedAfterAnError)
{
    Peer([this](FakeSocket& socket, int attempt) {
        if (attempt == 1)
            SendData(socket, attempt, 0.3, "junk");
        else
            SendError(socket, attempt, 0.3, platform::SocketFailure::NetworkDown, "");
    });
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(Query().TimeError, "unknown winsock error");
    EXPECT_EQ(Query().ServerAnswer, "junk");  // kept from the first attempt
}

TEST_F(ClientTest, CancelDuringTheWaitEndsItAtOnce)
{
    Silent();
    t.pump.After(2.5, [this] { t.app.flags.UserCancelled = true; });
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(Query().TimeError, "User cancelled");
    EXPECT_EQ(t.socket.connects, 1);
    EXPECT_NEAR(t.clock.MonotonicSeconds(), 2.5, 1e-9);
    // Nothing is left connected, and nothing reaches the handler any more.
    EXPECT_FALSE(t.socket.open);
    t.socket.open = true;
    t.socket.DeliverData(kAnswer);
    EXPECT_EQ(Query().ServerAnswer, "");
}

TEST_F(ClientTest, ACancelFromBeforeTheQueryStopsTheFirstAttempt)
{
    t.app.flags.UserCancelled = true;  // pressed while the connection came up
    AnswerAfter(1.0, kAnswer);
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(Query().TimeError, "User cancelled");
    EXPECT_EQ(t.socket.connects, 1);
}

TEST_F(ClientTest, ASocketErrorTextWinsOverCancel)
{
    Peer([this](FakeSocket& socket, int) {
        t.pump.After(1.0, [this, &socket] {
            t.app.flags.UserCancelled = true;
            socket.DeliverError(platform::SocketFailure::Reset, "Connection reset by peer");
        });
    });
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(Query().TimeError, "winsock error - 10054 Connection reset by peer");
    EXPECT_EQ(t.socket.connects, 1);
}

TEST_F(ClientTest, AnAnswerHandledWithTheCancelInOnePassCounts)
{
    Peer([this](FakeSocket& socket, int) {
        t.pump.After(1.0, [this, &socket] {
            socket.DeliverData(kAnswer);
            t.app.flags.UserCancelled = true;
        });
    });
    EXPECT_TRUE(GetServerTime(t.app));
    EXPECT_EQ(Query().TimeError, "");
}

TEST_F(ClientTest, OnlyTheFirstPieceOfASplitAnswerIsParsed)
{
    Peer([this](FakeSocket& socket, int attempt) {
        SendData(socket, attempt, 0.2, kAnswer.substr(0, 12));
        SendData(socket, attempt, 1.2, kAnswer.substr(12));
    });
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.connects, 3);
    EXPECT_EQ(Query().ServerAnswer, kAnswer.substr(0, 12));
    EXPECT_EQ(Query().TimeError, "NTP server returned invalid time: \\n60711 25-02");
}

TEST_F(ClientTest, AFloodIsReadOnlyUpTo64KiB)
{
    const std::string flood(3 * 1024 * 1024, 'x');
    AnswerAfter(0.2, flood);
    EXPECT_FALSE(GetServerTime(t.app));
    EXPECT_EQ(t.socket.lastReadLimit, 65536u);
    EXPECT_EQ(Query().ServerAnswer.size(), 65536u);
    EXPECT_EQ(Query().TimeError, "NTP server returned invalid time: " + std::string(200, 'x') + "... (65536 bytes)");
}

// The further answers are asked for unless the key says no, as every yes/no
// key does: only "Y" (or no value at all) is yes.
TEST(Precise, OnlyYOrNothingAsksForMoreAnswers)
{
    for (const auto& [value, wanted] : std::vector<std::pair<std::string, bool>>{
             {"", true}, {"Y", true}, {"N", false}, {"y", false}, {"yes", false}, {"0", false}}) {
        Settings settings;
        settings.Precise = value;
        EXPECT_EQ(WantsPrecision(settings), wanted) << value;
    }
}

}  // namespace
}  // namespace vel
