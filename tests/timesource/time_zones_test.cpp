// The time query and the correction together, in the zones of the tz
// database and across changes of daylight saving: the clock ends at the
// server's instant, and a correct clock stays correct.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/daytime_peer.h"
#include "support/test_app.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_client.h"

namespace vel {
namespace {

using platform::Instant;
using platform::LocalDateTime;
using test::DaytimePeer;
using test::TestApp;
using Lines = std::vector<std::string>;

// A PC in `zone` whose clock shows `local`, `pcAhead` seconds off the true
// time, asking a server that sends its NIST line on time.
struct ZoneScene {
    TestApp t;
    DaytimePeer server{t.clock, t.pump, t.socket};

    ZoneScene(const std::string& zone, const LocalDateTime& local, double pcAhead)
    {
        t.clock = test::VirtualClock(local, test::TzZone(zone));
        server.PcAheadBy(pcAhead);
        t.app.settings.NTPServer = "time.example.net (Example Time)";
        t.app.settings.Tolerance = 30;
    }

    // The query and the decision; the PC clock's error left (positive: ahead).
    double Run()
    {
        if (!GetServerTime(t.app))
            ADD_FAILURE() << t.app.query.TimeError;
        CompareAndCorrect(t.app);
        return platform::ToDouble(t.clock.NowUtc() - server.TrueTime());
    }
    Lines Log() { return t.LogLines(); }
};

struct ZoneCase {
    const char* zone;
    LocalDateTime local;  // what the PC shows
};

// Zones that are not whole hours: the rounding to whole hours made a correct
// clock 15 or 30 minutes "off" in each of them.
const ZoneCase kOddZones[] = {
    {"Asia/Kolkata", {2026, 12, 7, 13, 53, 30}},         // +5:30
    {"Asia/Kathmandu", {2026, 12, 7, 13, 53, 30}},       // +5:45
    {"America/St_Johns", {2026, 12, 7, 13, 53, 30}},     // -3:30
    {"America/St_Johns", {2026, 7, 7, 13, 53, 30}},      // -2:30 in summer
    {"Australia/Adelaide", {2026, 7, 7, 13, 53, 30}},    // +9:30 in winter
    {"Australia/Adelaide", {2026, 12, 7, 13, 53, 30}},   // +10:30 in summer
    {"Australia/Lord_Howe", {2026, 12, 7, 13, 53, 30}},  // +11, half an hour of daylight saving
};

TEST(TimeZones, ACorrectClockStaysCorrectInZonesThatAreNotWholeHours)
{
    for (const ZoneCase& c : kOddZones) {
        SCOPED_TRACE(std::string(c.zone) + " " + platform::ToIsoText(c.local));
        ZoneScene s(c.zone, c.local, 0);
        EXPECT_NEAR(s.Run(), 0, 1e-9);
        EXPECT_EQ(s.Log().back(), "system clock correct");
        EXPECT_TRUE(s.t.clock.sets.empty());
    }
}

TEST(TimeZones, AClockBehindIsMovedByExactlyWhatItIsBehind)
{
    for (const ZoneCase& c : kOddZones) {
        SCOPED_TRACE(std::string(c.zone) + " " + platform::ToIsoText(c.local));
        ZoneScene s(c.zone, c.local, -95);
        const Instant before = s.t.clock.NowUtc();
        EXPECT_NEAR(s.Run(), 0, 1e-6);
        const Lines log = s.Log();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[1], "system clock off by 1 minute 35 seconds");
        ASSERT_EQ(s.t.clock.sets.size(), 1u);
        // Moved 95 seconds; the rest is the time the query and the countdown took.
        const double elapsed = s.t.clock.MonotonicSeconds();
        EXPECT_NEAR(platform::ToDouble(s.t.clock.NowUtc() - before) - elapsed, 95, 1e-6);
        // The time logged is the zone's own local time, not shifted by a rounding.
        EXPECT_EQ(log[2], "system clock corrected to " + FormatCorrectedTime(s.t.clock.Now().time, ":"));
    }
}

TEST(TimeZones, ACorrectClockStaysCorrectInEveryZoneOfTheDatabase)
{
    const std::vector<std::string> zones = test::TzZoneNames();
    ASSERT_GT(zones.size(), 300u);
    for (const std::string& zone : zones) {
        // Winter and summer of both hemispheres.
        for (const LocalDateTime local : {LocalDateTime{2026, 1, 15, 12, 0, 0}, LocalDateTime{2026, 7, 15, 12, 0, 0}}) {
            ZoneScene s(zone, local, 0);
            s.Run();
            EXPECT_EQ(s.Log().back(), "system clock correct") << zone << " " << platform::ToIsoText(local);
        }
    }
}

// A correction across a change of daylight saving: the true time and how far
// the PC is off, what is logged, and where the clock ends.
struct ChangeCase {
    const char* what;
    const char* zone;
    LocalDateTime trueUtc;  // when the answer arrives
    double pcAhead;
    const char* offBy;
    const char* correctedTo;  // the local time of the server's instant, 3 seconds on
};

const ChangeCase kChanges[] = {
    // Berlin springs forward at 01:00 UTC (02:00 winter time becomes 03:00).
    {"Berlin, PC before the spring change",
     "Europe/Berlin",
     {2027, 3, 28, 1, 30, 0},
     -3000,
     "50 minutes",
     "03.28.27 03:30"},
    {"Berlin, PC after the spring change",
     "Europe/Berlin",
     {2027, 3, 28, 0, 40, 0},
     3000,
     "50 minutes",
     "03.28.27 01:40"},
    // and falls back at 01:00 UTC (03:00 summer time becomes 02:00).
    {"Berlin, PC before the autumn change",
     "Europe/Berlin",
     {2027, 10, 31, 1, 20, 0},
     -3000,
     "50 minutes",
     "10.31.27 02:20"},
    {"Berlin, PC after the autumn change",
     "Europe/Berlin",
     {2027, 10, 31, 0, 30, 0},
     3000,
     "50 minutes",
     "10.31.27 02:30"},
    // New York springs forward at 07:00 UTC (02:00 EST becomes 03:00 EDT).
    {"New York, PC before the spring change",
     "America/New_York",
     {2027, 3, 14, 7, 30, 0},
     -3000,
     "50 minutes",
     "03.14.27 03:30"},
    {"New York, PC after the spring change",
     "America/New_York",
     {2027, 3, 14, 6, 40, 0},
     3000,
     "50 minutes",
     "03.14.27 01:40"},
    // and falls back at 06:00 UTC (02:00 EDT becomes 01:00 EST).
    {"New York, PC before the autumn change",
     "America/New_York",
     {2027, 11, 7, 6, 20, 0},
     -3000,
     "50 minutes",
     "11.07.27 01:20"},
    {"New York, PC after the autumn change",
     "America/New_York",
     {2027, 11, 7, 5, 30, 0},
     3000,
     "50 minutes",
     "11.07.27 01:30"},
    // A day off, over the change.
    {"Berlin, a day behind over the spring change",
     "Europe/Berlin",
     {2027, 3, 28, 12, 0, 0},
     -86400,
     "1 day",
     "03.28.27 14:00"},
};

TEST(TimeZones, ACorrectionAcrossAChangeOfDaylightSavingEndsAtTheServersInstant)
{
    for (const ChangeCase& c : kChanges) {
        SCOPED_TRACE(c.what);
        // Half a second before the answer arrives (the NIST line comes on the
        // second): the PC's instant, since its local time may be ambiguous.
        ZoneScene s(c.zone, {2000, 1, 1, 0, 0, 0}, 0);
        const Instant pcAtArrival =
            platform::InstantOfUtc(c.trueUtc) + platform::Seconds(static_cast<std::int64_t>(c.pcAhead));
        s.t.clock.SetNowUtc(pcAtArrival - platform::MakeSpan(0, 500000000));
        s.server.PcAheadBy(c.pcAhead);
        EXPECT_NEAR(s.Run(), 0, 1e-6);
        const Lines log = s.Log();
        ASSERT_EQ(log.size(), 3u);
        EXPECT_EQ(log[1], std::string("system clock off by ") + c.offBy);
        EXPECT_EQ(log[2], std::string("system clock corrected to ") + c.correctedTo);
        // One setting: the instant was right the first time.
        EXPECT_EQ(s.t.clock.sets.size(), 1u);
    }
}

// Whole seconds decide and are shown; the clock moves by the precise amount.
TEST(Accuracy, WholeSecondsAreShownAndThePreciseDifferenceIsApplied)
{
    ZoneScene s("Europe/Berlin", {2026, 12, 7, 13, 53, 30}, -95.4);
    s.t.clock.Advance(0.25);
    s.server.PcAheadBy(-95.4);
    EXPECT_NEAR(s.Run(), 0, 1e-6);
    EXPECT_EQ(s.Log()[1], "system clock off by 1 minute 36 seconds");
}

TEST(Accuracy, AnswersWithoutAnOnTimeMarkerAreTakenAsHalfwayThroughTheirSecond)
{
    for (const DaytimePeer::Layout layout :
         {DaytimePeer::Layout::Short, DaytimePeer::Layout::Xinetd, DaytimePeer::Layout::NistLike}) {
        for (const double phase : {0.0, 0.3, 0.7, 0.999}) {
            ZoneScene s("Asia/Kolkata", {2026, 12, 7, 13, 53, 30}, -95);
            s.server.layout = layout;
            s.server.transit = 0.02;
            s.t.clock.Advance(phase);
            s.server.PcAheadBy(-95);
            // Sent within the named second and 20 ms on the way: within half a
            // second and the transit of the true time.
            const double error = s.Run();
            EXPECT_LE(error, 0.5 + 1e-9) << static_cast<int>(layout) << " " << phase;
            EXPECT_GE(error, -0.5 - 0.02 - 1e-9) << static_cast<int>(layout) << " " << phase;
            EXPECT_EQ(s.t.clock.sets.size(), 1u);
        }
    }
}

TEST(Accuracy, AnOnTimeLineIsExactUpToTheTransitThatMsAdvDoesNotMakeUpFor)
{
    for (const double advance : {0.0, 0.05}) {
        for (const double transit : {0.0, 0.02, 0.05}) {
            ZoneScene s("America/New_York", {2026, 12, 7, 13, 53, 30}, 120.37);
            s.server.advance = advance;
            s.server.transit = transit;
            s.server.PcAheadBy(120.37);
            // Early by msADV, late by the transit: the PC ends that much behind or ahead.
            EXPECT_NEAR(s.Run(), advance - transit, 1e-6) << advance << " " << transit;
        }
    }
}

TEST(Accuracy, TheXinetdLayoutCorrectsAClock)
{
    ZoneScene s("Australia/Adelaide", {2026, 12, 7, 13, 53, 30}, 3600);
    s.server.layout = DaytimePeer::Layout::Xinetd;
    s.server.PcAheadBy(3600);
    EXPECT_NEAR(s.Run(), 0, 0.5 + 1e-9);
    EXPECT_EQ(s.Log()[1], "system clock off by 1 hour");
}

}  // namespace
}  // namespace vel
