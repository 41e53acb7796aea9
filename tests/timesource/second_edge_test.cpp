// The search for the server's second as pure arithmetic: what the answers
// allow, when to ask next, when to stop.
#include "timesource/second_edge.h"

#include <gtest/gtest.h>

#include <vector>

namespace vel {
namespace {

constexpr double kSlack = 0.002;  // what one reading of the clock may be off by

TEST(SecondEdge, TheOffsetsEveryAnswerAllows)
{
    struct Case {
        const char* what;
        std::vector<EdgeAnswer> answers;
        bool fits;
        double low, high;
    };
    const Case cases[] = {
        {"one answer, read as it came", {{-0.1, 0, 0, 0}}, true, -1 - kSlack, kSlack},
        {"read half the round trip before it came", {{-0.3, 0, 0.2, 0}}, true, -1.1 - kSlack, -0.1 + kSlack},
        {"a later answer read 0.3 s into its second", {{-0.1, 0, 0, 0}, {5.2, 5.3, 0, 5}}, true, -0.7 - kSlack, kSlack},
        {"one read just before its second ended",
         {{-0.1, 0, 0, 0}, {5.2, 5.3, 0, 6}},
         true,
         -1 - kSlack,
         -0.7 + kSlack},
        {"round trips that vary widen every answer",
         {{-0.1, 0, 0.1, 0}, {5.0, 5.3, 0.3, 5}},
         true,
         -0.85 - 0.1 - kSlack,
         -0.05 + 0.1 + kSlack},
        {"answers that contradict each other", {{-0.1, 0, 0, 0}, {5.2, 5.3, 0, 7}}, false, 0, 0},
        {"no answer", {}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto allowed = AllowedOffsets(c.answers);
        ASSERT_EQ(allowed.has_value(), c.fits);
        if (c.fits) {
            EXPECT_NEAR(allowed->low, c.low, 1e-12);
            EXPECT_NEAR(allowed->high, c.high, 1e-12);
        }
    }
}

// The server reads its clock `lead` after the connect begins (the latest
// answer's: arrival less half the round trip, less its connect); the next
// connect is timed so that this reading falls on the edge of one of the
// server's seconds if the offset is the middle of what is allowed.
TEST(SecondEdge, TheNextConnectAimsAtTheMiddle)
{
    struct Case {
        double low, high;
        EdgeAnswer latest;
        double earliest;
        double start;
    };
    const Case cases[] = {
        {-1, 0, {0, 0.3, 0.2, 0}, 1.0, 1.3},     // read at 1.5: the server's second 2 begins there
        {-1, 0, {0, 0.3, 0.2, 0}, 1.3, 1.3},     // just in time
        {-1, 0, {0, 0.3, 0.2, 0}, 1.31, 2.3},    // a second later
        {-0.2, 0, {0, 0.05, 0, 0}, 2.0, 2.85},   // read at 2.9, where second 3 begins
        {0.4, 0.6, {0, 0.6, 0.4, 0}, 7.0, 7.1},  // lead 0.4: read at 7.5
    };
    for (const Case& c : cases) {
        const double start = NextConnectTime({c.low, c.high}, c.latest, c.earliest);
        EXPECT_NEAR(start, c.start, 1e-9) << c.low << ".." << c.high << " from " << c.earliest;
    }
}

TEST(SecondEdge, AnotherAnswerIsAskedForWhileItCanStillNarrowTheInterval)
{
    const std::vector<EdgeAnswer> one{{0, 0, 0, 0}};
    const std::vector<EdgeAnswer> eight(8, EdgeAnswer{0, 0, 0, 0});
    const std::vector<EdgeAnswer> jittery{{0, 0, 0.01, 0}, {0, 0, 0.11, 0}};  // allowance 52 ms
    EXPECT_TRUE(WorthAnotherAnswer({-1, 0}, one));
    EXPECT_TRUE(WorthAnotherAnswer({0, 4 * kSlack + 1e-6}, one));
    EXPECT_FALSE(WorthAnotherAnswer({0, 4 * kSlack}, one));
    EXPECT_FALSE(WorthAnotherAnswer({-1, 0}, eight));
    EXPECT_TRUE(WorthAnotherAnswer({0, 0.25}, jittery));
    EXPECT_FALSE(WorthAnotherAnswer({0, 0.2}, jittery));
}

}  // namespace
}  // namespace vel
