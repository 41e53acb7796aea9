#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "run/entry.h"
#include "run/machine_record.h"
#include "support/daytime_peer.h"
#include "support/test_app.h"

namespace vel {
namespace {

constexpr double kNow = 1.8e9;

TEST(MachineRecord, AnEventsRunIsDueTenMinutesAfterTheLastTimeObtained)
{
    const struct {
        std::optional<double> obtainedAgo;
        std::optional<double> tooSoon;
    } cases[] = {
        {std::nullopt, std::nullopt}, {0, 0}, {1, 1}, {599.9, 599.9}, {600, std::nullopt}, {86400, std::nullopt},
        {-5, std::nullopt},  // after now: the clock went back, nothing can be told
    };
    for (const auto& c : cases) {
        MachineRecord record;
        if (c.obtainedAgo)
            record.obtained = kNow - *c.obtainedAgo;
        const std::optional<double> got = TooSoonAfter(record, kNow);
        ASSERT_EQ(got.has_value(), c.tooSoon.has_value()) << c.obtainedAgo.value_or(-1);
        if (got) {
            EXPECT_NEAR(*got, *c.tooSoon, 1e-6);
        }
    }
}

TEST(MachineRecord, NoQuestionWithinFourSecondsOfTheLast)
{
    const struct {
        std::optional<double> contactedAgo;
        double pause;
    } cases[] = {{std::nullopt, 0}, {0, 4}, {1.5, 2.5}, {3.999, 0.001}, {4, 0}, {100, 0}, {-30, 0}};
    for (const auto& c : cases) {
        MachineRecord record;
        if (c.contactedAgo)
            record.contacted = kNow - *c.contactedAgo;
        EXPECT_NEAR(PauseBeforeServer(record, kNow), c.pause, 1e-6) << c.contactedAgo.value_or(-1);
    }
}

TEST(MachineRecord, TextRoundTripAndWhatIsNoNumberReadsAsMissing)
{
    const MachineRecord record{1765000000.25, 1765000001.5};
    const MachineRecord back = ParseMachineRecord(FormatMachineRecord(record));
    EXPECT_DOUBLE_EQ(*back.obtained, 1765000000.25);
    EXPECT_DOUBLE_EQ(*back.contacted, 1765000001.5);
    for (const char* text : {"", "[LastRun]\nObtained=\nContacted=x1\n", "[LastRun]\nObtained=12abc\nContacted=nan\n",
                             "[Other]\nObtained=5\n"}) {
        const MachineRecord none = ParseMachineRecord(text);
        EXPECT_FALSE(none.obtained) << text;
        EXPECT_FALSE(none.contacted) << text;
    }
}

// Machine's runs one after another, each its own process (App) over the same
// files, the PC clock 95 s ahead of the server's at the first.
struct MachineRuns {
    std::map<std::string, std::string> files{
        {"/app/Veltrane.INI", "[Main]\r\nNTPServer=time.example.net (test)\r\nConnectionType=LAN\r\n"}};
    platform::Instant at{};  // the PC clock when the last run ended

    struct Run {
        test::TestApp t;
        std::unique_ptr<test::DaytimePeer> server;
        ExitStatus status = ExitStatus::Ok;
    };

    std::unique_ptr<Run> Start(const std::string& line, double afterSeconds, double pcAhead = 0)
    {
        auto run = std::make_unique<Run>();
        run->t.env.files = files;
        run->t.env.stateFolder = "/state";
        run->t.env.logFolder = "/log";
        run->t.env.commandLine = line;
        if (at.seconds == 0)
            at = run->t.clock.NowUtc();
        at = at + platform::MakeSpan(0, std::llround(afterSeconds * 1e9));
        run->t.clock.SetNowUtc(at);
        run->server = std::make_unique<test::DaytimePeer>(run->t.clock, run->t.pump, run->t.socket);
        run->server->PcAheadBy(pcAhead);
        run->status = ProgramMain(run->t.app);
        files = run->t.env.files;
        at = run->t.clock.NowUtc();  // the PC clock, as the run left it
        return run;
    }
};

TEST(MachineRecord, ARunStartedByAnEventEndsAtOnceWithinTenMinutesOfTheLastTimeObtained)
{
    MachineRuns runs;
    const auto first = runs.Start("--machine", 0, 95);
    EXPECT_EQ(first->status, ExitStatus::Ok);
    ASSERT_EQ(first->t.clock.sets.size(), 1u);
    ASSERT_EQ(runs.files.count("/state/LastRun.ini"), 1u);
    const MachineRecord record = ParseMachineRecord(runs.files["/state/LastRun.ini"]);
    ASSERT_TRUE(record.obtained && record.contacted);
    // On the clock as set: the true time of the question.
    const double asked = platform::ToDouble(first->server->TrueTime()) - first->t.clock.MonotonicSeconds() +
                         first->server->connectTimes.back();
    EXPECT_NEAR(*record.obtained, asked, 0.01);

    const auto tooSoon = runs.Start("--machine --rate-limited", 5 * 60);
    EXPECT_EQ(tooSoon->status, ExitStatus::Ok);
    EXPECT_EQ(tooSoon->t.socket.connects, 0);
    EXPECT_EQ(tooSoon->t.env.files.count("/log/Veltrane.log"), first->t.env.files.count("/log/Veltrane.log"));
    EXPECT_EQ(tooSoon->t.env.files["/log/Veltrane.log"], first->t.env.files["/log/Veltrane.log"]);
    EXPECT_NE(
        tooSoon->t.env.standardError.find("veltrane: not due: the machine's last run obtained the time 5 minutes ago"),
        std::string::npos)
        << tooSoon->t.env.standardError;

    // Started by hand (or by the timer), a run is always due.
    const auto byHand = runs.Start("--machine", 1);
    EXPECT_EQ(byHand->t.socket.connects, 1);

    const auto due = runs.Start("--machine --rate-limited", 10 * 60 + 1);
    EXPECT_EQ(due->t.socket.connects, 1);
}

TEST(MachineRecord, AMachinesRunWaitsOutFourSecondsAfterTheLastQuestion)
{
    MachineRuns runs;
    const auto first = runs.Start("--machine", 0);
    const double alone = first->server->connectTimes.at(0);
    // The next run starts a second after the first one's question.
    const double since = first->t.clock.MonotonicSeconds() - first->server->connectTimes.back();
    const auto next = runs.Start("--machine", 1 - since);
    ASSERT_FALSE(next->server->connectTimes.empty());
    EXPECT_NEAR(next->server->connectTimes[0] - alone, 3.0, 0.01);
}

TEST(MachineRecord, AUsersRunKeepsNoRecordAndARecordThatCannotBeWrittenIsLogged)
{
    test::TestApp user;
    user.WriteSettings("[Main]\r\nNTPServer=time.example.net (test)\r\nQuietMode=Y\r\n");
    user.env.commandLine = "--rate-limited";
    test::DaytimePeer server(user.clock, user.pump, user.socket);
    ProgramMain(user.app);
    EXPECT_EQ(user.socket.connects, 1);
    EXPECT_TRUE(user.env.replaced.empty());

    test::TestApp machine;
    machine.WriteSettings("[Main]\r\nNTPServer=time.example.net (test)\r\n");
    machine.env.commandLine = "--machine";
    machine.env.stateFolder = "/state";
    machine.env.folders.insert("/state/LastRun.ini");
    test::DaytimePeer peer(machine.clock, machine.pump, machine.socket);
    ProgramMain(machine.app);
    EXPECT_EQ(machine.LogLines().back(),
              "WARNING: the record of the machine's last run could not be written: /state/LastRun.ini: Is a "
              "directory (error 21)");
}

}  // namespace
}  // namespace vel
