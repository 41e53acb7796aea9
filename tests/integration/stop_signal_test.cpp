// The real program stopped by SIGTERM, SIGINT and SIGHUP during a countdown:
// a quiet run and a run with its window (on Qt's offscreen platform). Each
// writes its line, saves the settings and ends with 128 + the number.
#include <csignal>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "program_run.h"

namespace vel::integration {
namespace {

const std::vector<std::pair<int, std::string>> kSignals = {
    {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};

class StopBySignal : public ProgramTest {
protected:
    // Delay 20: the countdowns outlast the test by far.
    void WriteRunSettings(const std::string& quietMode) const
    {
        std::filesystem::remove(home / "Veltrane.log");  // each run's lines alone
        WriteSettings(
            "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=20\r\nConnectionType=LAN\r\n"
            "QuietMode=" +
            quietMode + "\r\n");
    }
    // The end of the file saved at the close, which the hand-written one lacks.
    bool Saved() const { return ReadSettings().find("OnlyIfConnected=N\r\n") != std::string::npos; }
};

// The quiet run is in its exit countdown after the refused query.
TEST_F(StopBySignal, AQuietRunDuringItsExitCountdown)
{
    for (const auto& [number, name] : kSignals) {
        SCOPED_TRACE(name);
        WriteRunSettings("Y");
        RunOptions options;
        options.arguments = "noupdate";
        auto program = Start(options);
        ASSERT_TRUE(program->WaitForLogLine("starting connect to ", 15));
        ASSERT_TRUE(program->StillRunningAfter(0.5));
        program->Signal(number);
        const ProgramRun run = program->Finish(10);
        EXPECT_EQ(run.signal, 0) << "ended by the signal itself, not by the program";
        EXPECT_EQ(run.exitStatus, 128 + number) << run.output;
        EXPECT_TRUE(
            InOrder(run.log, {"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                              "starting connect to 127.0.0.1 (local test server)", kAskedOverNtp,
                              "WARNING: stopped by signal " + name}));
        EXPECT_LT(run.seconds, 3.0);
        EXPECT_TRUE(Saved()) << ReadSettings();
    }
}

// The window run is in its start delay.
TEST_F(StopBySignal, AWindowRunDuringItsStartDelay)
{
    for (const auto& [number, name] : kSignals) {
        SCOPED_TRACE(name);
        WriteRunSettings("N");
        RunOptions options;
        options.offscreen = true;
        auto program = Start(options);
        ASSERT_TRUE(program->WaitForLogLine("*** VEL started ***", 15));
        ASSERT_TRUE(program->StillRunningAfter(0.5));
        program->Signal(number);
        const ProgramRun run = program->Finish(10);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.exitStatus, 128 + number) << run.output;
        EXPECT_TRUE(InOrder(run.log, {"*** VEL started ***", "WARNING: stopped by signal " + name}));
        EXPECT_FALSE(InOrder(run.log, {"starting connect*"}));
        EXPECT_TRUE(Saved()) << ReadSettings();
    }
}

}  // namespace
}  // namespace vel::integration
