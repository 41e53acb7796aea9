#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "run/entry.h"
#include "run/history.h"
#include "support/test_app.h"

namespace vel {
namespace {

// A log line stamped with day `day` of December 2026 at `hour`:00.
std::string Line(int day, int hour, const std::string& text)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "12.%02d.2026 %02d:00 ", day, hour);
    return stamp + text + "\r\n";
}

// One run that measured the clock `offsetMs` ahead (negative: behind) and
// set it when `corrected`.
std::string LoggedRun(int day, int hour, long offsetMs, bool corrected)
{
    std::string text = Line(day, hour, "*** VEL started ***") + Line(day, hour, "started in quiet mode");
    text += Line(day, hour,
                 std::abs(offsetMs) > 30000 || corrected ? "system clock off by 2 seconds" : "system clock correct");
    text += Line(day, hour,
                 "the PC clock is " + std::to_string(std::labs(offsetMs)) + " ms " +
                     (offsetMs < 0 ? "behind" : "ahead of") + " the server, measured to within 20 ms over 3 answers");
    if (corrected)
        text += Line(day, hour, "system clock corrected to 20:00:00");
    return text;
}

TEST(History, ReadsEachComparingRunAcrossBothLogsWithItsSignAndCorrection)
{
    const std::string old = "garbage that is no log line\r\n" + LoggedRun(1, 8, -1800, false) +
                            Line(2, 9, "*** VEL started ***") + Line(2, 9, "ERROR: winsock error - 10061");
    // The second log begins inside a run (the log was moved meanwhile).
    const std::string log = Line(3, 10, "system clock correct") + LoggedRun(4, 11, 2500, true) +
                            Line(5, 12, "*** VEL started ***") + Line(5, 12, "system clock off by 1 minute 35 seconds");
    const std::vector<Comparison> runs = ReadComparisons({old, log});
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].stamp, "12.01.2026 08:00");
    EXPECT_DOUBLE_EQ(*runs[0].offsetSeconds, -1.8);
    EXPECT_FALSE(runs[0].corrected);
    EXPECT_EQ(runs[1].stamp, "12.03.2026 10:00");  // compared, nothing measured
    EXPECT_FALSE(runs[1].offsetSeconds);
    EXPECT_DOUBLE_EQ(*runs[2].offsetSeconds, 2.5);
    EXPECT_TRUE(runs[2].corrected);
    EXPECT_EQ(runs[3].offBy, "1 minute 35 seconds");

    const std::string text = HistoryText(runs);
    EXPECT_NE(text.find("12.01.2026 08:00  1.800 s behind"), std::string::npos) << text;
    EXPECT_NE(text.find("12.03.2026 10:00  within the tolerance"), std::string::npos) << text;
    EXPECT_NE(text.find("12.05.2026 12:00  off by 1 minute 35 seconds"), std::string::npos) << text;
}

// A clock that loses 1.8 s a day, set right every ten days: the rate comes
// back from the offsets, whatever each stretch started from.
TEST(History, DriftOfAClockThatLosesASteadyRateBetweenCorrections)
{
    std::string log;
    double start = 1, startOffset = 5000;  // the first stretch starts 5 s ahead
    for (int day = 1, n = 0; day <= 29; day += 2, ++n) {
        const long noise = n % 3 == 0 ? 40 : n % 3 == 1 ? -40 : 0;
        const long offset = std::lround(startOffset - 1800 * (day - start)) + noise;
        const bool corrected = day % 10 == 9;
        log += LoggedRun(day, 12, offset, corrected);
        if (corrected)
            start = day, startOffset = 0;
    }
    const std::vector<Comparison> runs = ReadComparisons({log});
    ASSERT_EQ(runs.size(), 15u);
    const std::optional<Drift> drift = EstimateDrift(runs);
    ASSERT_TRUE(drift);
    EXPECT_NEAR(drift->secondsPerDay, -1.8, 0.01);
    EXPECT_GT(drift->spread, 0);
    EXPECT_LT(drift->spread, 0.02);
    EXPECT_EQ(drift->runs, 15);
    EXPECT_NEAR(drift->days, 28, 1e-9);
    const std::string words = DescribeDrift(drift, true);
    EXPECT_EQ(words.rfind("The clock loses about 1.8 s a day (give or take 0.0", 0), 0u) << words;
    EXPECT_TRUE(words.ends_with(" s a day, from 15 runs over 28 days).")) << words;

    // Ignoring the corrections (one line through all) would find no such rate.
    std::vector<Comparison> uncorrected = runs;
    for (Comparison& c : uncorrected)
        c.corrected = false;
    EXPECT_GT(EstimateDrift(uncorrected)->secondsPerDay, -1.0);
}

TEST(History, WordsForTheDriftAndForTooLittleToGoOn)
{
    const struct {
        std::optional<Drift> drift;
        bool any;
        const char* words;
    } cases[] = {
        {std::nullopt, false, "No run in the log has compared the clock yet."},
        {std::nullopt, true,
         "Too few measured runs to tell how the clock drifts: it takes three at least, an hour apart or more."},
        {Drift{2.345, 0.25, 4, 0.5}, true,
         "The clock gains about 2.3 s a day (give or take 0.2 s a day, from 4 runs "
         "over 12 hours)."},
        {Drift{-12.6, 1.5, 9, 40.2}, true,
         "The clock loses about 13 s a day (give or take 1.5 s a day, from 9 runs over 40 days)."},
        {Drift{0.01, 0.004, 5, 3}, true,
         "The clock keeps time: it drifts less than 0.05 s a day (give or take 0.00 s a day, from 5 runs over 3 "
         "days)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeDrift(c.drift, c.any), c.words);
}

TEST(History, TwoMeasuredRunsOrRunsWithinAnHourGiveNoRate)
{
    EXPECT_FALSE(EstimateDrift(ReadComparisons({LoggedRun(1, 8, -100, false) + LoggedRun(2, 8, -1900, false)})));
    std::string sameHour;
    for (int i = 0; i < 5; ++i)
        sameHour += LoggedRun(1, 8, -100 * i, false);
    EXPECT_FALSE(EstimateDrift(ReadComparisons({sameHour})));
}

// --history reads OldLog.log and Veltrane.log, prints, writes nothing.
TEST(History, TheOptionPrintsFromBothLogsAndWritesNothing)
{
    test::TestApp t;
    t.env.commandLine = "--history";
    t.env.files["/app/OldLog.log"] = LoggedRun(1, 8, -100, false) + LoggedRun(2, 8, -1900, false);
    t.env.files[t.LogPath()] = LoggedRun(3, 8, -3700, true);
    const auto before = t.env.files;
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Ok);
    EXPECT_EQ(t.env.files, before);
    EXPECT_TRUE(t.env.replaced.empty());
    EXPECT_FALSE(t.Window() && t.Window()->WasShown());
    const std::string& out = t.env.standardOutput;
    EXPECT_EQ(out.rfind("From /app/OldLog.log and /app/Veltrane.log:\n", 0), 0u) << out;
    EXPECT_NE(out.find("12.03.2026 08:00  3.700 s behind                      yes\n"), std::string::npos) << out;
    EXPECT_NE(out.find("The clock loses about 1.8 s a day"), std::string::npos) << out;

    test::TestApp none;
    none.env.commandLine = "--history";
    EXPECT_EQ(ProgramMain(none.app), ExitStatus::Ok);
    EXPECT_EQ(none.env.standardOutput, "No log to read in /app.\nNo run in the log has compared the clock yet.\n");
    EXPECT_TRUE(none.env.files.empty());
}

}  // namespace
}  // namespace vel
