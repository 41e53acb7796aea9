// The time query and the correction together, in the zones of the tz
// database and across changes of daylight saving: the clock ends at the
// server's instant, and a correct clock stays correct.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "support/daytime_peer.h"
#include "support/test_app.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_client.h"
#include "timesource/time_query.h"

namespace vel {
namespace {

// A correction's line of how far the clock was off, from its precision on
// ("measured to within ..."): the offset itself depends on the phase.
std::string Precision(const std::string& line)
{
    const std::string lead = "the PC clock is ";
    const std::size_t at = line.find(" the server, ");
    return line.rfind(lead, 0) == 0 && at != std::string::npos ? line.substr(at + 13) : "(no offset) " + line;
}

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
        t.app.settings.StepLimit = INT32_MAX;  // steps across a day, unguarded
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
        EXPECT_EQ(s.Log().at(1), "system clock correct");
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
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[1], "system clock off by 1 minute 35 seconds");
        EXPECT_EQ(log[2], "the PC clock is 95000 ms behind the server, measured to within 2 ms over 1 answer");
        ASSERT_EQ(s.t.clock.sets.size(), 1u);
        // Moved 95 seconds; the rest is the time the query and the countdown took.
        const double elapsed = s.t.clock.MonotonicSeconds();
        EXPECT_NEAR(platform::ToDouble(s.t.clock.NowUtc() - before) - elapsed, 95, 1e-6);
        // The time logged is the zone's own local time, not shifted by a rounding.
        EXPECT_EQ(log[3], "system clock corrected to " + FormatCorrectedTime(s.t.clock.Now().time, ":"));
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
            EXPECT_EQ(s.Log().at(1), "system clock correct") << zone << " " << platform::ToIsoText(local);
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
        ASSERT_EQ(log.size(), 4u);
        EXPECT_EQ(log[1], std::string("system clock off by ") + c.offBy);
        EXPECT_EQ(log[3], std::string("system clock corrected to ") + c.correctedTo);
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

// Answers that name only their second: after the countdown up to 7 more
// connects, timed onto the server's second edges, find the offset to within a
// few milliseconds at any phase and round trip (both ways alike here).
TEST(Accuracy, TheServersSecondIsFoundAtEveryPhaseAndRoundTrip)
{
    for (const DaytimePeer::Layout layout : {DaytimePeer::Layout::Short, DaytimePeer::Layout::Xinetd}) {
        for (const double trip : {0.0, 0.02, 0.3}) {
            for (const double phase : {0.0, 0.3, 0.7, 0.999}) {
                SCOPED_TRACE(testing::Message() << static_cast<int>(layout) << " " << trip << " " << phase);
                ZoneScene s("Asia/Kolkata", {2026, 12, 7, 13, 53, 30}, 0);
                s.server.layout = layout;
                s.server.outbound = s.server.transit = trip / 2;
                s.t.clock.Advance(phase);
                s.server.PcAheadBy(-95.37);
                EXPECT_NEAR(s.Run(), 0, 0.006);
                const std::vector<double>& connects = s.server.connectTimes;
                ASSERT_GE(connects.size(), 7u);
                ASSERT_LE(connects.size(), 8u);
                for (std::size_t i = 1; i < connects.size(); ++i)
                    EXPECT_GE(connects[i] - connects[i - 1], 1.0);
                EXPECT_LE(connects.back() + 2 * trip, connects.front() + 3 + 12);  // the countdown, the limit
                const Lines log = s.Log();
                ASSERT_EQ(log.size(), 4u);
                // 95.37 s behind shows as 95 or 96 whole seconds, by the phase.
                EXPECT_EQ(log[1].rfind("system clock off by 1 minute 3", 0), 0u) << log[1];
                EXPECT_EQ(Precision(log[2]).rfind("measured to within ", 0), 0u) << log[2];
                EXPECT_EQ(s.t.clock.sets.size(), 1u);
            }
        }
    }
}

// A server of NIST's layout is asked no more often than every 4 seconds:
// within the 12 seconds that leaves two or three more answers.
TEST(Accuracy, ANistLikeServerIsAskedEveryFourSecondsWithinTheLimit)
{
    for (const double phase : {0.0, 0.5}) {
        ZoneScene s("Europe/Berlin", {2026, 12, 7, 13, 53, 30}, 0);
        s.server.layout = DaytimePeer::Layout::NistLike;
        s.t.clock.Advance(phase);
        s.server.PcAheadBy(-95.37);
        EXPECT_NEAR(s.Run(), 0, 0.13);
        const std::vector<double>& connects = s.server.connectTimes;
        ASSERT_GE(connects.size(), 3u);
        for (std::size_t i = 1; i < connects.size(); ++i)
            EXPECT_GE(connects[i] - connects[i - 1], 4.0);
        EXPECT_LE(s.t.clock.MonotonicSeconds(), phase + 3 + 12);
    }
}

// Each way the search can end early, in the log line after the decision.
TEST(Accuracy, TheSearchEndsWithWhatIsKnown)
{
    struct Case {
        const char* what;
        std::function<void(ZoneScene&)> arrange;
        std::size_t connects;
        const char* line;
        double largestError;
        double jump = 0;  // the server's clock jumps this far during the countdown
    };
    const Case cases[] = {
        {"Precise=N", [](ZoneScene& s) { s.t.app.settings.Precise = "N"; }, 1,
         "measured to within 502 ms over 1 answer", 0.5},
        {"a refused query", [](ZoneScene& s) { s.server.refuseFrom = 4; }, 4,
         "measured to within 127 ms over 3 answers; no further answer: winsock error - 10061 Connection refused",
         0.127},
        {"no answer before the limit", [](ZoneScene& s) { s.server.silentFrom = 3; }, 3,
         "measured to within 252 ms over 2 answers; no further answer: Connection timed out", 0.252},
        {"a server whose clock jumps", [](ZoneScene&) {}, 2,
         "measured to within 502 ms over 1 answer; the server's later answers contradicted it", 0.5, 2.53},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZoneScene s("UTC", {2026, 12, 7, 13, 53, 30}, 0);
        s.server.layout = DaytimePeer::Layout::Short;
        s.t.clock.Advance(0.8);
        s.server.PcAheadBy(-95.37);
        s.t.pump.At(2, [&s, jump = c.jump] { s.server.PcAheadBy(-95.37 - jump); });
        c.arrange(s);
        EXPECT_NEAR(s.Run() + c.jump, 0, c.largestError);
        EXPECT_EQ(s.t.clock.sets.size(), 1u);
        EXPECT_EQ(s.server.connectTimes.size(), c.connects);
        EXPECT_EQ(Precision(s.Log().at(2)), c.line);
        EXPECT_LE(s.t.clock.MonotonicSeconds(), 0.8 + 3 + 12);  // the answer, the countdown, the limit
    }
}

// Cancel during the search: no setting, and nothing more is asked.
TEST(Accuracy, CancelDuringTheSearchLeavesTheClock)
{
    ZoneScene s("UTC", {2026, 12, 7, 13, 53, 30}, 0);
    s.server.layout = DaytimePeer::Layout::Xinetd;
    s.server.PcAheadBy(-95);
    s.t.pump.At(6.5, [&s] { s.t.app.flags.UserCancelled = true; });
    s.Run();
    EXPECT_TRUE(s.t.clock.sets.empty());
    EXPECT_EQ(s.Log(), (Lines{"*** VEL started ***", "system clock off by 1 minute 35 seconds",
                              "system clock not corrected - user cancelled"}));
    EXPECT_EQ(s.t.app.exitStatus, ExitStatus::Cancelled);
    EXPECT_LE(s.server.connectTimes.back(), 6.5);
    EXPECT_DOUBLE_EQ(s.t.clock.MonotonicSeconds(), 6.5);
}

// A clock left as it is says how far off it is: a correct one from its one
// answer, a dry run after the same search a setting makes.
TEST(Accuracy, AClockLeftAsItIsSaysHowFarOffItIs)
{
    struct Case {
        double pcAhead;
        bool dryRun;
        const char* decision;
        std::size_t connects;  // 0: the search's (7 or 8)
        double largestError;   // seconds
    };
    const Case cases[] = {
        {10.37, false, "system clock correct", 1, 0.502},
        {10.37, true, "system clock correct", 0, 0.006},
        {-95.37, true, "system clock off by 1 minute 35 seconds", 0, 0.006},
    };
    const std::regex offsetLine(R"(the PC clock is (\d+) ms (ahead of|behind) the server, )"
                                R"(measured to within (\d+) ms over (\d+) answers?)");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pcAhead << (c.dryRun ? " dry run" : ""));
        ZoneScene s("UTC", {2026, 12, 7, 13, 53, 30}, 0);
        s.server.layout = DaytimePeer::Layout::Short;
        s.t.clock.Advance(0.6);
        s.server.PcAheadBy(c.pcAhead);
        s.t.app.options.noUpdate = c.dryRun;
        s.Run();
        EXPECT_TRUE(s.t.clock.sets.empty());
        const std::size_t connects = s.server.connectTimes.size();
        if (c.connects != 0)
            EXPECT_EQ(connects, c.connects);
        else
            EXPECT_GE(connects, 7u);
        const Lines log = s.Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], c.decision);
        std::smatch found;
        ASSERT_TRUE(std::regex_match(log.back(), found, offsetLine)) << log.back();
        const double measured = std::stod(found[1]) / 1000 * (found[2] == "behind" ? -1 : 1);
        EXPECT_NEAR(measured, c.pcAhead, c.largestError + 0.0005);
        EXPECT_LE(std::stod(found[3]) / 1000, c.largestError);
        EXPECT_EQ(std::stoul(found[4]), connects);
    }
}

// The further answers take up to 12 seconds after the correction's countdown:
// the status box says so meanwhile, and no number of the countdown stands
// longer than its second.
TEST(Accuracy, NoCountdownNumberStandsStillWhileTheServersSecondIsSought)
{
    ZoneScene s("UTC", {2026, 12, 7, 13, 53, 30}, 0);
    s.server.layout = DaytimePeer::Layout::Short;
    s.server.PcAheadBy(-95.37);
    std::map<std::string, std::pair<double, double>> shown;  // text: first and last seen
    for (int i = 0; i <= 200; ++i)
        s.t.pump.At(i * 0.1, [&s, &shown] {
            if (s.t.Window() == nullptr)
                return;  // the query has not shown anything yet
            const double now = s.t.clock.MonotonicSeconds();
            const auto [at, fresh] = shown.try_emplace(s.t.Window()->Text("txtStatus"), now, now);
            at->second.second = now;
        });
    EXPECT_NEAR(s.Run(), 0, 0.006);
    int numbers = 0;
    for (const auto& [text, seen] : shown)
        if (text.rfind("System clock will be updated in ", 0) == 0) {
            ++numbers;
            EXPECT_LE(seen.second - seen.first, 1.0) << text;
        }
    EXPECT_EQ(numbers, 3);
    ASSERT_EQ(shown.count(kMeasuringText), 1u);
    EXPECT_GE(shown[kMeasuringText].second - shown[kMeasuringText].first, 5.0);
}

// An on-time NIST line: the handshake's round trip measures the transit,
// and msADV is read from the line. On a path alike both ways the clock ends
// on the true time; on one that is not, off by half the difference, which
// no client can see, and which the bound (half the round trip, and 2 ms for
// the readings of the clock) covers.
TEST(Accuracy, AnOnTimeLineIsExactUpToTheAsymmetryOfThePath)
{
    struct Way {
        double out, back;
    };
    for (const double advance : {0.0, 0.05, 0.1}) {
        for (const Way way : {Way{0, 0}, Way{0.02, 0.02}, Way{0.05, 0.05}, Way{0.005, 0.095}}) {
            ZoneScene s("America/New_York", {2026, 12, 7, 13, 53, 30}, 120.37);
            s.server.advance = advance;
            s.server.outbound = way.out;
            s.server.transit = way.back;
            s.server.PcAheadBy(120.37);
            EXPECT_NEAR(s.Run(), (way.out - way.back) / 2, 1e-6) << advance << " " << way.out << " " << way.back;
            EXPECT_EQ(s.server.connectTimes.size(), 1u);
            EXPECT_EQ(Precision(s.Log()[2]), "measured to within " +
                                                 std::to_string(std::lround((way.out + way.back) * 500) + 2) +
                                                 " ms over 1 answer");
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
