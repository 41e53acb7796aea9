// The real program in quiet mode against tools/daytime-server.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "program_run.h"
#include "support/dbus/private_bus.h"

namespace vel::integration {
namespace {

namespace fs = std::filesystem;

class QuietRun : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        WriteSettings(
            "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n"
            "QuietMode=Y\r\n");
    }

    // server empty: no server at all (the port refuses). clockStandIn: see RunOptions.
    ProgramRun RunBinary(const std::string& server, const std::string& arguments = "",
                         const std::string& clockStandIn = "", RunOptions options = {})
    {
        options.server = server;
        options.arguments = arguments;
        options.clockStandIn = clockStandIn;
        return Run(options);
    }
};

const Lines kStart = {"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                      "starting connect to 127.0.0.1 (local test server)"};

Lines Then(Lines lines, const Lines& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// SaveSettings wrote the file at the end of the run: it holds keys that the
// hand-written file had not.
void ExpectSettingsSaved(const std::string& settings)
{
    EXPECT_NE(settings.find("OnlyIfConnected="), std::string::npos) << settings;
    EXPECT_NE(settings.find("NTPServer=127.0.0.1 (local test server)"), std::string::npos) << settings;
    EXPECT_NE(settings.find("QuietMode=Y"), std::string::npos) << settings;
}

TEST_F(QuietRun, ClockCorrect)
{
    const ProgramRun run = RunBinary("--layout nist");
    EXPECT_TRUE(InOrder(run.log, Then(kStart, {"system clock correct", "the PC clock is *"}))) << run.output;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.serverConnections, 1);
    const std::regex stamped(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d .+)");
    for (const std::string& line : run.stampedLog)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    ExpectSettingsSaved(ReadSettings());
}

TEST_F(QuietRun, ClockCorrectWithTheShortLayout)
{
    const ProgramRun run = RunBinary("--layout short");
    EXPECT_TRUE(InOrder(run.log, Then(kStart, {"system clock correct", "the PC clock is *"}))) << run.output;
    EXPECT_EQ(run.exitStatus, 0);
}

// The server's second and ours may part between its sending and our reading.
const std::string kOffBy95 = "system clock off by 1 minute 3* seconds";

TEST_F(QuietRun, ClockOffWithNoupdateIsMeasuredOnly)
{
    const ProgramRun run = RunBinary("--offset -95", "noupdate");
    EXPECT_TRUE(InOrder(run.log, Then(kStart, {kOffBy95, "the PC clock is 9*"}))) << run.output;
    EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(QuietRun, ClockOffThatCannotBeSetIsReportedAndTheRunEndsNormally)
{
    const ProgramRun run = RunBinary("--offset -95");
    // Both ways of setting the clock failed, and both are named.
    EXPECT_TRUE(InOrder(run.log, Then(kStart, {kOffBy95,
                                               "ERROR: the system clock could not be set: clock_settime: operation "
                                               "not permitted; no system bus to reach systemd-timedated*(error 1)"})))
        << run.output;
    EXPECT_EQ(run.exitStatus, 2);
    ExpectSettingsSaved(ReadSettings());
}

TEST_F(QuietRun, RefusedConnectionIsOneAttempt)
{
    const ProgramRun run = RunBinary("");
    EXPECT_TRUE(InOrder(run.log, Then(kStart, {kAskedOverNtp, kRefusedBothWays}))) << run.output;
    EXPECT_EQ(run.exitStatus, 1);
    ExpectSettingsSaved(ReadSettings());
}

// The machine's run, as the system service starts it: the machine's
// settings (only read, whatever they hold) and log, every line on standard
// error too (a file here), nothing in the user's folder. It sets the clock
// where the system bus says that no other time service keeps it, and not
// where the bus cannot be reached.
TEST_F(QuietRun, TheMachinesRunUsesTheMachinesFoldersAndOnlyReadsItsSettings)
{
    const std::string settings =
        "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=1\r\nConnectionType=LAN\r\nQuietMode=N\r\n";
    test::PrivateSystemBus bus;
    ASSERT_TRUE(bus.StartMock("timedated", "org.freedesktop.timedate1", R"({"NTP": false})")) << bus.Error();
    ASSERT_TRUE(bus.StartMock(test::SystemdUnitsTemplate(), "org.freedesktop.systemd1")) << bus.Error();
    for (const bool reached : {true, false}) {
        SCOPED_TRACE(reached);
        std::ofstream(MachineSettingsFolder() / "Veltrane.INI", std::ios::binary) << settings;
        fs::remove(home / "Veltrane.INI");
        fs::remove_all(MachineLogFolder());
        RunOptions options;
        options.machineFolders = true;
        options.systemBus = reached ? bus.Address() : "";
        const ProgramRun run = RunBinary("--offset -95", "--machine", "succeed", options);
        if (reached) {
            EXPECT_EQ(run.exitStatus, 0) << run.output;
            EXPECT_TRUE(InOrder(run.log, Then(kStart, {"system clock corrected to *"}))) << run.output;
            // Then what became of the hardware clock (none in the namespace,
            // or one the namespace may not set).
            EXPECT_TRUE(InOrder(run.log, {"system clock corrected to *", "hardware clock: none at /dev/rtc0*"}) ||
                        InOrder(run.log, {"system clock corrected to *", "WARNING: hardware clock not set: *"}))
                << run.output;
            EXPECT_EQ(run.clockSettings.size(), 1u);
        } else {
            EXPECT_EQ(run.exitStatus, 2) << run.output;
            EXPECT_TRUE(InOrder(run.log, Then(kStart, {"WARNING: system clock not corrected - cannot tell whether "
                                                       "another time service keeps it: the system bus cannot be "
                                                       "reached*"})))
                << run.output;
            EXPECT_EQ(run.clockSettings.size(), 0u);
        }
        std::string stamped;
        for (const std::string& line : run.stampedLog)
            stamped += line + "\n";
        if (!reached)  // a run that fails points to its log
            stamped += "veltrane: see the log: /var/log/veltrane/Veltrane.log\n";
        EXPECT_EQ(run.standardError, stamped);
        EXPECT_EQ(ReadFile(MachineSettingsFolder() / "Veltrane.INI"), settings);
        EXPECT_TRUE(fs::is_empty(home));
    }
}

// Debian's node_exporter itself reads what a machine's run leaves in its
// textfile folder: started on the loopback of a namespace of its own (its
// other collectors off), its /metrics shows the run's veltrane_ series.
TEST_F(QuietRun, NodeExporterReadsTheMachinesRunsMetrics)
{
    const char* exporter = "/usr/bin/prometheus-node-exporter";
    if (!fs::exists(exporter))
        GTEST_SKIP() << "Debian's prometheus-node-exporter is not installed (scripts/setup.sh installs it)";
    test::PrivateSystemBus bus;
    ASSERT_TRUE(bus.StartMock("timedated", "org.freedesktop.timedate1", R"({"NTP": false})")) << bus.Error();
    ASSERT_TRUE(bus.StartMock(test::SystemdUnitsTemplate(), "org.freedesktop.systemd1")) << bus.Error();
    std::ofstream(MachineSettingsFolder() / "Veltrane.INI", std::ios::binary)
        << "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nConnectionType=LAN\r\n";
    RunOptions options;
    options.machineFolders = true;
    options.systemBus = bus.Address();
    const ProgramRun run = RunBinary("--offset -95", "--machine", "succeed", options);
    ASSERT_EQ(run.exitStatus, 0) << run.output;
    const fs::path folder = MachineMetricsFolder();
    ASSERT_TRUE(fs::exists(folder / "veltrane.prom")) << run.output;
    // Written whole: nothing else is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    EXPECT_NE(ReadFile(MachineStateFolder() / "LastRun.ini").find("Obtained="), std::string::npos);

    const fs::path out = MachineStateFolder().string() + "-exporter";
    fs::create_directories(out);
    const std::string script =
        "ip link set lo up || exit 97; " + std::string(exporter) +
        " --web.listen-address=127.0.0.1:9100 --collector.disable-defaults --collector.textfile"
        " --collector.textfile.directory='" +
        folder.string() + "' 2>'" + out.string() +
        "/exporter.err' & pid=$!; "
        "for i in $(seq 100); do { exec 3<>/dev/tcp/127.0.0.1/9100; } 2>/dev/null && break; sleep 0.1; done; "
        "printf 'GET /metrics HTTP/1.0\\r\\nHost: 127.0.0.1\\r\\n\\r\\n' >&3 && cat <&3 >'" +
        out.string() + "/metrics.txt'; kill $pid; wait $pid; exit 0";
    std::ofstream(out / "exporter.sh") << script << "\n";
    ASSERT_EQ(std::system(("timeout -s KILL 30 unshare -r -n bash '" + (out / "exporter.sh").string() + "'").c_str()),
              0);
    const std::string metrics = ReadFile(out / "metrics.txt");
    const std::string server = "server=\"127.0.0.1\"";
    for (const std::string& series :
         {"veltrane_last_run_result{result=\"corrected\"," + server + "} 1",
          "veltrane_last_run_result{result=\"failed\"," + server + "} 0",
          std::string("veltrane_last_run_exit_status 0"), "veltrane_clock_step_seconds{" + server + "} -9",
          "veltrane_clock_offset_seconds{" + server + "} 9",
          std::string("# TYPE veltrane_last_run_timestamp_seconds gauge")})
        EXPECT_NE(metrics.find(series), std::string::npos) << series << "\n"
                                                           << metrics << ReadFile(out / "exporter.err");
    // node_exporter found the file sound.
    EXPECT_NE(metrics.find("node_textfile_scrape_error 0"), std::string::npos) << metrics;
}

}  // namespace
}  // namespace vel::integration
