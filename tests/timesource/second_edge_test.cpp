// What a server's answers say about its clock when packets are lost and the
// server lies: the instant set and the bound the log states.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/daytime_peer.h"
#include "support/test_app.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_client.h"
#include "timesource/second_edge.h"

namespace vel {
namespace {

using test::DaytimePeer;

// One answer alone, arriving at 0 (PC) and naming the second 0 (server): its
// result and bound, in seconds, with a round trip of 40 ms where measured.
TEST(SecondEdge, OneAnswerIsMeasuredWithinWhatItAllowsWhateverThePath)
{
    struct Case {
        const char* what;
        EdgeAnswer answer;
        double offset, bound;
    };
    const Case cases[] = {
        // Read half a round trip before the arrival, in a second taken as half over.
        {"sent at once", {-0.05, -0.01, 0, false, 0, {}}, -0.52, 0.522},
        // The retry is no part of the path: from the handshake's end to the arrival is.
        {"sent at once, handshake retried", {-1.05, -0.01, 0, true, 0, {}}, -0.505, 0.507},
        // Sent msADV before its second, half the round trip on its way back.
        {"on time", {-0.64, -0.60, 0, false, 0, 0.05}, 0.03, 0.022},
        // No round trip: taken as arrived at once, never late; it may have
        // been under way since the handshake's end.
        {"on time, handshake retried", {-1.64, -0.60, 0, true, 0, 0.05}, 0.05, 0.602},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto measured = MeasureOffset({c.answer});
        ASSERT_TRUE(measured);
        EXPECT_NEAR(measured->offset, c.offset, 1e-9);
        EXPECT_NEAR(measured->bound, c.bound, 1e-9);
        // A second answer that allows nothing the first does contradicts it.
        EdgeAnswer later = c.answer;
        later.named -= 2;
        EXPECT_FALSE(MeasureOffset({c.answer, later}));
    }
}

// The PC clock 95.37 s behind a server 20 ms away each way, the server's
// second at some phase of the PC's: the whole query and correction, with
// SYNs lost and answers that lie. The log's precision line says how far off
// the instant set may be, and it is (unless the server lies within its own
// first answer's second, which nobody can tell: then the result stays within
// what that answer allows).
TEST(SecondEdge, LostSynsAndLiesNeitherBendTheInstantSetNorTheBoundLogged)
{
    using Layout = DaytimePeer::Layout;
    struct Case {
        const char* what;
        Layout layout;
        std::function<void(DaytimePeer&)> arrange;
        std::size_t connects;  // 0: the whole search's (6 to 8)
        const char* line;      // the precision line, N standing for the bound in ms
        double largestError;
        bool boundHolds = true;
        bool precise = true;
    };
    const Case cases[] = {
        {"on time, first SYN lost: asked again", Layout::NistOnTime,
         [](DaytimePeer& p) {
             p.synsLost = {{1, 1}};
         },
         2, "measured to within 22 ms over 2 answers", 0.001},
        {"on time, first SYN lost, Precise=N", Layout::NistOnTime,
         [](DaytimePeer& p) {
             p.synsLost = {{1, 1}};
         },
         1, "measured to within N ms over 1 answer; no round trip measured: the handshake was retried", 0.021, true,
         false},
        {"on time, every SYN lost", Layout::NistOnTime,
         [](DaytimePeer& p) {
             p.synsLost = {{1, 1}, {2, 1}, {3, 1}, {4, 1}};
         },
         4, "measured to within N ms over 4 answers; no round trip measured: the handshake was retried", 0.021},
        {"on time, first SYN lost, the answer asked again 2 s off", Layout::NistOnTime,
         [](DaytimePeer& p) {
             p.synsLost = {{1, 1}};
             p.lieFrom = 2;
             p.lieBy = 2;
         },
         2,
         "measured to within N ms over 1 answer; no round trip measured: the handshake was retried; the server's "
         "later answers contradicted it",
         0.021},
        {"short, first SYN lost", Layout::Short,
         [](DaytimePeer& p) {
             p.synsLost = {{1, 1}};
         },
         0, "measured to within N ms over K answers", 0.006},
        {"short, a later SYN lost twice", Layout::Short,
         [](DaytimePeer& p) {
             p.synsLost = {{3, 2}};
         },
         0, "measured to within N ms over K answers", 0.006},
        {"short, later answers 3 s off", Layout::Short,
         [](DaytimePeer& p) {
             p.lieFrom = 2;
             p.lieBy = 3;
         },
         2, "measured to within N ms over 1 answer; the server's later answers contradicted it", 0.521},
        {"xinetd, first SYN lost, later answers 2.6 s off", Layout::Xinetd,
         [](DaytimePeer& p) {
             p.synsLost = {{1, 1}};
             p.lieFrom = 2;
             p.lieBy = -2.6;
         },
         2, "measured to within N ms over 1 answer; the server's later answers contradicted it", 0.521},
        {"short, later answers 0.4 s off: within the first answer's second", Layout::Short,
         [](DaytimePeer& p) {
             p.lieFrom = 2;
             p.lieBy = 0.4;
         },
         0, "measured to within N ms over K answers", 1.044, false},
    };
    const std::regex precision(R"(measured to within (\d+) ms over \d+ answers?.*)");
    for (const Case& c : cases) {
        for (const double phase : {0.1, 0.55, 0.9}) {
            SCOPED_TRACE(testing::Message() << c.what << ", phase " << phase);
            test::TestApp t;
            DaytimePeer server{t.clock, t.pump, t.socket};
            t.app.settings.NTPServer = "time.example.net (Example Time)";
            t.app.settings.Precise = c.precise ? "Y" : "N";
            t.clock.Advance(phase);
            server.layout = c.layout;
            server.advance = 0.05;
            server.outbound = server.transit = 0.02;
            server.PcAheadBy(-95.37);
            c.arrange(server);
            ASSERT_TRUE(GetServerTime(t.app)) << t.app.query.TimeError;
            CompareAndCorrect(t.app);
            const double error = platform::ToDouble(t.clock.NowUtc() - server.TrueTime());
            EXPECT_LE(std::fabs(error), c.largestError);
            EXPECT_EQ(t.clock.sets.size(), 1u);
            if (c.connects != 0) {
                EXPECT_EQ(server.connectTimes.size(), c.connects);
            } else {
                EXPECT_GE(server.connectTimes.size(), 6u);
                EXPECT_LE(server.connectTimes.size(), 8u);
            }
            const std::vector<std::string> log = t.LogLines();
            ASSERT_EQ(log.size(), 4u);
            std::smatch found;
            ASSERT_TRUE(std::regex_match(log[2], found, precision)) << log[2];
            if (c.boundHolds) {
                EXPECT_LE(std::fabs(error), std::stod(found[1]) / 1000) << log[2];
            }
            // The line's shape: N for a bound that follows the phase, K for a
            // count the search chose.
            const std::string expected = c.line;
            std::string shape = log[2];
            if (expected.find(" N ms") != std::string::npos)
                shape = std::regex_replace(shape, std::regex(R"(within \d+ ms)"), "within N ms");
            if (expected.find(" K ") != std::string::npos)
                shape = std::regex_replace(shape, std::regex(R"(over \d+ answers)"), "over K answers");
            EXPECT_EQ(shape, expected);
        }
    }
}

}  // namespace
}  // namespace vel
