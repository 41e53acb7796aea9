#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/test_app.h"
#include "timesource/clock_correction.h"
#include "timesource/time_zone.h"

namespace vel {
namespace {

using platform::LocalDateTime;
using test::TestApp;
using Lines = std::vector<std::string>;

// The PC clock reads 2025-02-03 09:07:00.25 when the answer arrives.
struct Scene {
    TestApp t;

    Scene()
    {
        t.clock.Advance(0.25);
        t.app.settings.Tolerance = 30;
        t.app.settings.PCOffset = 0;
        AnswerNow();
    }

    // The answer arrives at this reading of the PC clock.
    void AnswerNow()
    {
        const platform::ClockReading now = t.clock.Read();
        t.app.query.AnswerTime = now.local.time;
        t.app.query.answerInstant = now.utc;
    }

    // The server's time, given as how far the PC clock is ahead of it (the
    // clock is UTC here).
    void PcAheadBy(std::int64_t seconds)
    {
        t.app.query.ServerTime = platform::AddSeconds(t.app.query.AnswerTime, -seconds);
        t.app.query.serverInstant = t.app.query.answerInstant - platform::Seconds(seconds);
    }

    LocalDateTime SetTo(std::size_t i = 0) const { return t.clock.LocalAt(t.clock.sets.at(i)).time; }

    std::string Label() { return t.Window()->Text("lblClockStatus"); }
    std::string Box() { return t.Window()->Text("txtStatus"); }
    std::string Button() { return t.Window()->Text("cmdCancel"); }
};

struct CorrectionTest : ::testing::Test, Scene {};

TEST_F(CorrectionTest, WithinToleranceIsCorrectAndEqualityCounts)
{
    PcAheadBy(30);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "system clock correct"}));
    EXPECT_TRUE(t.clock.sets.empty());
    EXPECT_EQ(t.app.exitStatus, ExitStatus::Ok);
    EXPECT_EQ(Label(), "System clock is correct! ");
    EXPECT_EQ(Box(), "Program will exit in 1 secs.  To exit immediately, click QUIT.");
    EXPECT_EQ(Button(), "&Quit");
    EXPECT_NEAR(t.clock.MonotonicSeconds(), 3.25, 1e-9);  // the exit countdown
}

TEST_F(CorrectionTest, BeyondToleranceIsCorrected)
{
    PcAheadBy(31);
    const double before = t.clock.WallSerial();
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "system clock off by 31 seconds",
                                   "system clock corrected to 02.03.25 09:06"}));
    ASSERT_EQ(t.clock.sets.size(), 1u);
    // Set once, date and time together, to the reading at the setting less 31
    // seconds, its fraction kept.
    EXPECT_EQ(SetTo(), (LocalDateTime{2025, 2, 3, 9, 6, 32}));
    EXPECT_EQ(t.clock.sets[0].nanoseconds, 250000000);
    EXPECT_NEAR(t.clock.WallSerial() - before, 3.0 - 31.0, 1e-6);
    EXPECT_EQ(t.app.exitStatus, ExitStatus::Ok);
    EXPECT_EQ(Label(), "System clock is off by 31 seconds");
    EXPECT_EQ(Box(), "System clock will be updated in 1 secs unless you click CANCEL...");
    EXPECT_EQ(Button(), "&Cancel");
}

TEST_F(CorrectionTest, BehindIsMovedForwardByExactlyTheDifferenceHoweverLongTheCountdownTook)
{
    // The answer arrived 7.5 seconds ago; the countdown adds 3 more.
    AnswerNow();
    PcAheadBy(-120);
    t.clock.Advance(7.5);
    const double before = t.clock.WallSerial();
    CompareAndCorrect(t.app);
    EXPECT_EQ(Label(), "System clock is off by 2 minutes");
    EXPECT_TRUE(test::InOrder(t.LogLines(), {"system clock off by 2 minutes"}));
    ASSERT_EQ(t.clock.sets.size(), 1u);
    EXPECT_NEAR(t.clock.WallSerial() - before, 3.0 + 120.0, 1e-6);
    EXPECT_EQ(t.clock.sets[0].nanoseconds, 750000000);
}

TEST_F(CorrectionTest, PCOffsetIsWhereTheClockShouldBe)
{
    {
        SCOPED_TRACE("60 ahead, as wanted");
        Scene c;
        c.t.app.settings.PCOffset = 60;
        c.PcAheadBy(60);
        CompareAndCorrect(c.t.app);
        EXPECT_TRUE(test::InOrder(c.t.LogLines(), {"system clock correct"}));
    }
    {
        SCOPED_TRACE("in step, but meant to be 30 behind");
        Scene c;
        c.t.app.settings.PCOffset = -30;
        c.t.app.settings.Tolerance = 10;
        c.PcAheadBy(0);
        const double before = c.t.clock.WallSerial();
        CompareAndCorrect(c.t.app);
        EXPECT_TRUE(test::InOrder(c.t.LogLines(), {"system clock off by 30 seconds"}));
        EXPECT_NEAR(c.t.clock.WallSerial() - before, 3.0 - 30.0, 1e-6);
    }
}

TEST_F(CorrectionTest, ToleranceZeroAndNegative)
{
    {
        Scene c;
        c.t.app.settings.Tolerance = 0;
        c.PcAheadBy(0);
        CompareAndCorrect(c.t.app);
        EXPECT_TRUE(test::InOrder(c.t.LogLines(), {"system clock correct"}));
    }
    {
        Scene c;
        c.t.app.settings.Tolerance = 0;
        c.PcAheadBy(-1);
        CompareAndCorrect(c.t.app);
        EXPECT_TRUE(test::InOrder(c.t.LogLines(), {"system clock off by 1 second"}));
        EXPECT_EQ(c.t.clock.sets.size(), 1u);
    }
    {
        // Even no difference is off: the duration is empty and the clock is
        // set to what it shows.
        Scene c;
        c.t.app.settings.Tolerance = -1;
        c.PcAheadBy(0);
        const double before = c.t.clock.WallSerial();
        CompareAndCorrect(c.t.app);
        EXPECT_EQ(c.t.LogLines(),
                  (Lines{"*** VEL started ***", "system clock off by ", "system clock corrected to 02.03.25 09:07"}));
        EXPECT_EQ(c.Label(), "System clock is off by ");
        ASSERT_EQ(c.t.clock.sets.size(), 1u);
        EXPECT_NEAR(c.t.clock.WallSerial() - before, 3.0, 1e-6);
    }
}

TEST_F(CorrectionTest, CancelInTheCountdownLeavesTheClock)
{
    PcAheadBy(95);
    t.app.flags.UserCancelled = true;  // an earlier Cancel does not count
    t.pump.After(1.5, [this] { t.app.flags.UserCancelled = true; });
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds",
                                   "system clock not corrected - user cancelled"}));
    EXPECT_TRUE(t.clock.sets.empty());
    EXPECT_EQ(t.app.exitStatus, ExitStatus::Cancelled);
    EXPECT_NEAR(t.clock.MonotonicSeconds(), 2.25, 1e-9);  // at the end of that second
}

TEST_F(CorrectionTest, NoupdateMeasuresAndLogsOnly)
{
    t.app.options.noUpdate = true;
    t.clock.timeService = {"chrony.service", "systemctl disable --now chrony.service"};
    PcAheadBy(95);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds"}));
    EXPECT_TRUE(t.clock.sets.empty());
    EXPECT_EQ(t.clock.timeServiceQuestions, 0);  // nothing would be set: nobody is asked
    EXPECT_EQ(t.app.exitStatus, ExitStatus::Ok);
    EXPECT_EQ(Label(), "System clock is off by 1 minute 35 seconds");
}

// Another time service keeps the clock: asked only when a correction is due,
// compared and logged, never set, and no countdown before a setting that
// will not come.
TEST_F(CorrectionTest, AClockThatAnotherServiceKeepsIsComparedNotSet)
{
    t.clock.timeService = {"chrony.service", "systemctl disable --now chrony.service"};
    PcAheadBy(95);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds",
                                   "WARNING: system clock not corrected - another time service keeps it: "
                                   "chrony.service; to let Veltrane set the clock, turn that off: "
                                   "systemctl disable --now chrony.service"}));
    EXPECT_TRUE(t.clock.sets.empty());
    EXPECT_EQ(t.app.exitStatus, ExitStatus::KeptByTimeService);
    EXPECT_EQ(Label(), "Another time service keeps the clock! See .LOG file for details");
    EXPECT_EQ(Button(), "&Quit");
    EXPECT_NEAR(t.clock.MonotonicSeconds(), 3.25, 1e-9);  // the exit countdown only

    Scene correct;
    correct.t.clock.timeService = t.clock.timeService;
    correct.PcAheadBy(30);
    CompareAndCorrect(correct.t.app);
    EXPECT_EQ(correct.t.clock.timeServiceQuestions, 0);
}

// Where the system cannot say whether another service keeps the clock, the
// machine's run (nobody watches it, and it runs every day) leaves the clock
// and fails; a user's run goes on, its setting left to timedated's own check.
TEST(ClockCorrectionUnknownKeeper, TheMachinesRunLeavesTheClockAUsersRunSetsIt)
{
    for (const bool machine : {true, false}) {
        SCOPED_TRACE(machine);
        Scene s;
        s.t.app.machineRun = machine;
        s.t.clock.timeService = {{}, {}, "the system bus cannot be reached"};
        s.PcAheadBy(95);
        CompareAndCorrect(s.t.app);
        EXPECT_EQ(s.t.clock.sets.size(), machine ? 0u : 1u);
        EXPECT_EQ(s.t.app.exitStatus, machine ? ExitStatus::ClockNotSet : ExitStatus::Ok);
        if (machine) {
            EXPECT_EQ(s.t.LogLines(), (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds",
                                             "WARNING: system clock not corrected - cannot tell whether another "
                                             "time service keeps it: the system bus cannot be reached"}));
            EXPECT_EQ(s.Label(), "System clock could not be set! See .LOG file for details");
        }
    }
}

// Set by another program (the machine's run, for a member of the group):
// the log says who, not how precisely this run measured.
TEST_F(CorrectionTest, ASettingByAnotherProgramSaysWhichInTheLog)
{
    t.clock.setResult = {true, 0, {}, {}, "the machine's run veltrane-sync.service set the clock"};
    t.app.query.answers = 3;
    PcAheadBy(95);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds",
                                   "the machine's run veltrane-sync.service set the clock",
                                   "system clock corrected to 02.03.25 09:05"}));
}

// A PC in Berlin that shows `local` when the answer arrives, and a server
// whose true time is `utc`; the server's time made local with the offset in
// force at the arrival, as the query does.
struct BerlinScene {
    TestApp t;
    explicit BerlinScene(const LocalDateTime& local, const LocalDateTime& utc)
    {
        t.clock = test::VirtualClock(local, test::TzZone("Europe/Berlin"));
        t.app.settings.Tolerance = 30;
        t.app.settings.StepLimit = INT32_MAX;  // the arithmetic of a week's step, unguarded
        const platform::ClockReading now = t.clock.Read();
        t.app.query.AnswerTime = now.local.time;
        t.app.query.answerInstant = now.utc;
        t.app.query.serverInstant = platform::InstantOfUtc(utc);
        t.app.query.ServerTime = platform::AddSeconds(utc, GetTimeZoneOffsetSeconds(t.app));
    }
};

TEST(ClockCorrectionDaylightSaving, IntoSummerTimeOneInstantIsSetAndTheLogShowsSummerTime)
{
    // True time 2025-04-05 10:00:00 UTC: 12:00 in summer, 11:00 with the winter offset.
    BerlinScene s({2025, 3, 29, 12, 0, 0}, {2025, 4, 5, 10, 0, 0});
    EXPECT_EQ(s.t.app.query.ServerTime, (LocalDateTime{2025, 4, 5, 11, 0, 0}));
    CompareAndCorrect(s.t.app);
    ASSERT_EQ(s.t.clock.sets.size(), 1u);
    EXPECT_EQ(s.t.clock.sets[0], platform::InstantOfUtc({2025, 4, 5, 10, 0, 3}));
    EXPECT_EQ(s.t.clock.Now().time, (LocalDateTime{2025, 4, 5, 12, 0, 3}));
    EXPECT_EQ(s.t.LogLines().back(), "system clock corrected to 04.05.25 12:00");
}

TEST(ClockCorrectionDaylightSaving, IntoWinterTimeOneInstantIsSetAndTheLogShowsWinterTime)
{
    // True time 2025-02-01 11:00 UTC: 12:00 in winter, 13:00 with the summer offset.
    BerlinScene s({2025, 4, 5, 12, 0, 0}, {2025, 2, 1, 11, 0, 0});
    CompareAndCorrect(s.t.app);
    ASSERT_EQ(s.t.clock.sets.size(), 1u);
    EXPECT_EQ(s.t.clock.sets[0], platform::InstantOfUtc({2025, 2, 1, 11, 0, 3}));
    EXPECT_EQ(s.t.clock.Now().time, (LocalDateTime{2025, 2, 1, 12, 0, 3}));
    EXPECT_EQ(s.t.LogLines().back(), "system clock corrected to 02.01.25 12:00");
}

TEST(ClockCorrectionDaylightSaving, ASettingThatFailsAcrossAChangeIsReportedOnce)
{
    BerlinScene s({2025, 3, 29, 12, 0, 0}, {2025, 4, 5, 10, 0, 0});
    s.t.clock.setResult = {false, 22, ""};
    CompareAndCorrect(s.t.app);
    EXPECT_EQ(s.t.clock.sets.size(), 1u);
    EXPECT_EQ(s.t.app.exitStatus, ExitStatus::ClockNotSet);
    EXPECT_TRUE(test::InOrder(s.t.LogLines(),
                              {"ERROR: the system clock could not be set: the system gave no reason (error 22)"}));
    EXPECT_EQ(s.t.clock.Now().time, (LocalDateTime{2025, 3, 29, 12, 0, 6}));
}

TEST_F(CorrectionTest, AFailedSettingIsReportedAndTheRunGoesOn)
{
    t.clock.setResult = {false, 1, "clock_settime: operation not permitted"};
    PcAheadBy(95);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(),
              (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds",
                     "ERROR: the system clock could not be set: clock_settime: operation not permitted (error 1)"}));
    EXPECT_EQ(t.clock.sets.size(), 1u);
    EXPECT_EQ(t.app.exitStatus, ExitStatus::ClockNotSet);
    // The whole reason is in the log; the window says it briefly, so that its
    // countdown fits the status box.
    EXPECT_EQ(Label(), "System clock could not be set! See .LOG file for details");
    EXPECT_EQ(Box(), "Program will exit in 1 secs.  To exit immediately, click QUIT.");
    EXPECT_EQ(Button(), "&Quit");
    // The correction countdown and a countdown to read the error.
    EXPECT_NEAR(t.clock.MonotonicSeconds(), 6.25, 1e-9);
}

TEST_F(CorrectionTest, ARefusalSaysWhatWouldLetTheProgramSetTheClock)
{
    t.clock.setResult = {false, 1314, "A required privilege is not held by the client", "install it for all users"};
    PcAheadBy(95);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines().back(),
              "ERROR: the system clock could not be set: A required privilege is not held by the client (error 1314); "
              "install it for all users");
    EXPECT_EQ(Label(), "System clock could not be set! See .LOG file for details");
}

TEST(ClockCorrectionRange, DifferencesBeyond32BitsAreMeasuredShownAndCorrected)
{
    TestApp t;
    t.clock = test::VirtualClock({1901, 1, 1, 0, 0, 0});  // a clock that lost its battery long ago
    t.app.settings.Tolerance = 30;
    t.app.query.AnswerTime = t.clock.Now().time;
    t.app.query.answerInstant = t.clock.NowUtc();
    t.app.query.ServerTime = {2025, 2, 3, 9, 7, 0};
    t.app.query.serverInstant = platform::InstantOfUtc(t.app.query.ServerTime);
    // More than the largest step limit: an HTTPS server's Date agrees.
    t.app.settings.HTTPSServers = "a.test";
    t.https.servers["a.test"] = {};
    t.https.trueTime = [&t] { return t.app.query.serverInstant + (t.clock.NowUtc() - t.app.query.answerInstant); };
    const std::int64_t behind = platform::DiffSeconds(t.app.query.ServerTime, t.app.query.AnswerTime);
    ASSERT_GT(behind, std::int64_t{std::numeric_limits<std::int32_t>::max()});
    CompareAndCorrect(t.app);
    EXPECT_TRUE(test::InOrder(t.LogLines(), {"system clock off by 45324 days 9 hours 7 minutes"}));
    EXPECT_EQ(t.clock.Now().time, (LocalDateTime{2025, 2, 3, 9, 7, 3}));
    EXPECT_EQ(t.LogLines().back(), "system clock corrected to 02.03.25 09:07");

    EXPECT_EQ(ClockDifference({2200, 1, 1, 0, 0, 0}, std::numeric_limits<std::int32_t>::min(), {1900, 1, 1, 0, 0, 0}),
              platform::DiffSeconds({2200, 1, 1, 0, 0, 0}, {1900, 1, 1, 0, 0, 0}) + 2147483648LL);
}

TEST(FormatLongDuration, PartsInOrderWithPlurals)
{
    EXPECT_EQ(FormatLongDuration(0), "");
    EXPECT_EQ(FormatLongDuration(-5), "");
    EXPECT_EQ(FormatLongDuration(1), "1 second");
    EXPECT_EQ(FormatLongDuration(45), "45 seconds");
    EXPECT_EQ(FormatLongDuration(60), "1 minute");
    EXPECT_EQ(FormatLongDuration(95), "1 minute 35 seconds");
    EXPECT_EQ(FormatLongDuration(120), "2 minutes");
    EXPECT_EQ(FormatLongDuration(3601), "1 hour 1 second");
    EXPECT_EQ(FormatLongDuration(7322), "2 hours 2 minutes 2 seconds");
    EXPECT_EQ(FormatLongDuration(86400), "1 day");
    EXPECT_EQ(FormatLongDuration(90061), "1 day 1 hour 1 minute 1 second");
    EXPECT_EQ(FormatLongDuration(172800), "2 days");
    EXPECT_EQ(FormatLongDuration(std::numeric_limits<std::int32_t>::max()), "24855 days 3 hours 14 minutes 7 seconds");
    EXPECT_EQ(FormatLongDuration(4294967296LL), "49710 days 6 hours 28 minutes 16 seconds");
}

TEST(FormatCorrectedTime, MonthDayTwoDigitYearHoursAndMinutes)
{
    EXPECT_EQ(FormatCorrectedTime({2005, 1, 2, 3, 4, 59}, ":"), "01.02.05 03:04");
    EXPECT_EQ(FormatCorrectedTime({2099, 12, 31, 23, 59, 0}, "."), "12.31.99 23.59");
}

TEST_F(CorrectionTest, TheLoggedTimeUsesTheLocaleTimeSeparator)
{
    t.clock.timeSeparator = ".";
    PcAheadBy(3600);
    CompareAndCorrect(t.app);
    EXPECT_EQ(t.LogLines(true).back(), "02.03.2025 08.07 system clock corrected to 02.03.25 08.07");
}

}  // namespace
}  // namespace vel
