#include <gtest/gtest.h>

#include "run/entry.h"
#include "run/run_report.h"
#include "support/daytime_peer.h"
#include "support/test_app.h"

namespace vel {
namespace {

RunReport Corrected()
{
    RunReport report;
    report.endedAt = 1765000000.5;
    report.result = RunResult::Corrected;
    report.server = "time.example.net";
    report.offsetSeconds = 95.1234567;
    report.boundSeconds = 0.02;
    report.stepSeconds = -95.1;
    report.lastObtainedAt = 1765000000.25;
    return report;
}

TEST(RunReport, PrometheusTextHasEverySeriesWithHelpTypeAndTheServerAsALabel)
{
    EXPECT_EQ(PrometheusText(Corrected()),
              "# HELP veltrane_last_run_timestamp_seconds When the machine's last Veltrane run ended (Unix time).\n"
              "# TYPE veltrane_last_run_timestamp_seconds gauge\n"
              "veltrane_last_run_timestamp_seconds 1765000000.500\n"
              "# HELP veltrane_last_run_result The result of the machine's last Veltrane run: 1 for its result.\n"
              "# TYPE veltrane_last_run_result gauge\n"
              "veltrane_last_run_result{result=\"corrected\",server=\"time.example.net\"} 1\n"
              "veltrane_last_run_result{result=\"within_tolerance\",server=\"time.example.net\"} 0\n"
              "veltrane_last_run_result{result=\"failed\",server=\"time.example.net\"} 0\n"
              "veltrane_last_run_result{result=\"refused\",server=\"time.example.net\"} 0\n"
              "# HELP veltrane_last_run_exit_status The exit status of the machine's last Veltrane run.\n"
              "# TYPE veltrane_last_run_exit_status gauge\n"
              "veltrane_last_run_exit_status 0\n"
              "# HELP veltrane_clock_offset_seconds How far the PC clock was ahead of the server when the last run "
              "compared them (negative: behind).\n"
              "# TYPE veltrane_clock_offset_seconds gauge\n"
              "veltrane_clock_offset_seconds{server=\"time.example.net\"} 95.123457\n"
              "# HELP veltrane_clock_offset_bound_seconds The offset found is right to within this.\n"
              "# TYPE veltrane_clock_offset_bound_seconds gauge\n"
              "veltrane_clock_offset_bound_seconds{server=\"time.example.net\"} 0.020000\n"
              "# HELP veltrane_clock_step_seconds How far the last run moved the clock (negative: back; 0: not "
              "moved).\n"
              "# TYPE veltrane_clock_step_seconds gauge\n"
              "veltrane_clock_step_seconds{server=\"time.example.net\"} -95.100000\n"
              "# HELP veltrane_last_obtained_timestamp_seconds When a machine's Veltrane run last obtained the "
              "server's time (Unix time).\n"
              "# TYPE veltrane_last_obtained_timestamp_seconds gauge\n"
              "veltrane_last_obtained_timestamp_seconds 1765000000.250\n");
}

TEST(RunReport, ALabelIsEscapedAndWhatWasNotMeasuredIsLeftOut)
{
    RunReport report;
    report.server = "a\"b\\c\nd";
    report.exitStatus = 1;
    const std::string text = PrometheusText(report);
    EXPECT_NE(text.find("veltrane_last_run_result{result=\"failed\",server=\"a\\\"b\\\\c\\nd\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("veltrane_last_run_exit_status 1\n"), std::string::npos);
    for (const char* absent : {"veltrane_clock_offset_seconds", "veltrane_clock_offset_bound_seconds",
                               "veltrane_last_obtained_timestamp_seconds"})
        EXPECT_EQ(text.find(absent), std::string::npos) << absent;
}

TEST(RunReport, OneEventIdAndKindPerResultWithTheSameFields)
{
    using Kind = platform::SystemEvent::Kind;
    const struct {
        RunResult result;
        int id;
        Kind kind;
    } cases[] = {{RunResult::Corrected, 1, Kind::Information},
                 {RunResult::WithinTolerance, 2, Kind::Information},
                 {RunResult::Failed, 3, Kind::Error},
                 {RunResult::Refused, 4, Kind::Warning}};
    for (const auto& c : cases) {
        RunReport report = Corrected();
        report.result = c.result;
        const platform::SystemEvent event = EventOf(report);
        EXPECT_EQ(event.id, c.id);
        EXPECT_EQ(event.kind, c.kind);
        EXPECT_EQ(event.fields,
                  (std::vector<std::string>{std::string("result: ") + ResultName(c.result), "server: time.example.net",
                                            "offset_seconds: 95.123457", "step_seconds: -95.100000",
                                            "bound_seconds: 0.020000", "exit_status: 0"}));
    }
    RunReport failed;
    failed.server = "x";
    EXPECT_EQ(EventOf(failed).fields[2], "offset_seconds: unknown");
}

// A machine's run against a server, with what it leaves for monitoring.
struct MonitoredRun {
    test::TestApp t;
    test::DaytimePeer server{t.clock, t.pump, t.socket};

    explicit MonitoredRun(const std::string& extraSettings = "")
    {
        t.WriteSettings("[Main]\r\nNTPServer=time.example.net (test)\r\n" + extraSettings);
        t.env.commandLine = "--machine";
        t.env.stateFolder = "/state";
        t.env.metricsFolder = "/metrics";
    }
};

TEST(RunReport, TheMachinesRunWritesItsMetricsWholeWhereTheFolderIsOrTheKeySays)
{
    const struct {
        const char* settings;
        bool folderExists;
        const char* file;  // nullptr: none written
    } cases[] = {
        {"", true, "/metrics/veltrane.prom"},
        {"", false, nullptr},
        {"MetricsFile=/srv/time.prom\r\n", false, "/srv/time.prom"},
    };
    for (const auto& c : cases) {
        MonitoredRun run(c.settings);
        if (c.folderExists)
            run.t.env.folders.insert("/metrics");
        run.server.PcAheadBy(-42.5);
        EXPECT_EQ(ProgramMain(run.t.app), ExitStatus::Ok);
        std::vector<std::string> expected = {"/state/LastRun.ini"};
        if (c.file)
            expected.insert(expected.end(), c.file);
        EXPECT_EQ(run.t.env.replaced, expected);
        if (!c.file)
            continue;
        const std::string& text = run.t.env.files[c.file];
        EXPECT_NE(text.find("veltrane_last_run_result{result=\"corrected\",server=\"time.example.net\"} 1"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("veltrane_clock_offset_seconds{server=\"time.example.net\"} -42.5"), std::string::npos)
            << text;
        EXPECT_NE(text.find("veltrane_clock_step_seconds{server=\"time.example.net\"} 42.5"), std::string::npos)
            << text;
    }
}

TEST(RunReport, TheRunsResultAsMonitoringSeesIt)
{
    const struct {
        double pcAhead;
        const char* extra;
        platform::TimeService keeper;
        RunResult result;
    } cases[] = {
        {3, "", {}, RunResult::WithinTolerance},
        {95, "", {"systemd-timesyncd", "timedatectl set-ntp false", ""}, RunResult::Refused},
    };
    for (const auto& c : cases) {
        MonitoredRun run(c.extra);
        run.t.env.eventResult = platform::SystemEventResult::Written;
        run.t.clock.timeService = c.keeper;
        run.server.PcAheadBy(c.pcAhead);
        ProgramMain(run.t.app);
        ASSERT_EQ(run.t.env.events.size(), 1u);
        EXPECT_EQ(run.t.env.events[0].fields[0], std::string("result: ") + ResultName(c.result));
        EXPECT_TRUE(run.t.clock.sets.empty());
    }
    MonitoredRun unreachable;
    unreachable.server.refuseFrom = 1;
    unreachable.t.env.eventResult = platform::SystemEventResult::Written;
    EXPECT_EQ(ProgramMain(unreachable.t.app), ExitStatus::NoTime);
    ASSERT_EQ(unreachable.t.env.events.size(), 1u);
    EXPECT_EQ(unreachable.t.env.events[0].id, kEventFailed);
    // It asked, obtained nothing: the pause is recorded, the time is not.
    const std::string record = unreachable.t.env.files["/state/LastRun.ini"];
    EXPECT_NE(record.find("Contacted="), std::string::npos);
    EXPECT_EQ(record.find("Obtained="), std::string::npos);
}

TEST(RunReport, WhatCannotBeWrittenIsAWarningInTheLog)
{
    MonitoredRun run("MetricsFile=/metrics\r\n");
    run.t.env.folders.insert("/metrics");
    run.t.env.eventResult = platform::SystemEventResult::Failed;
    ProgramMain(run.t.app);
    const auto lines = run.t.LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "WARNING: the metrics file could not be written: /metrics: Is a directory (error 21)");
    EXPECT_EQ(lines.back(),
              "WARNING: the run's event could not be written to the Application log: The event log file is full. "
              "(error 1502)");
}

}  // namespace
}  // namespace vel
