// Runs that overlap: several real programs at once in one folder, on a log
// that is due for rotation. Each takes the log's lock around the rotation and
// around every line, so no line is lost, torn or written into the moved log.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

#include "program_run.h"

namespace vel::integration {
namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 5;

// A log of whole lines, a little over the 10000 bytes at which it is rotated.
std::string EarlierLog(int trial)
{
    std::string log;
    for (int line = 0; log.size() <= 10000; ++line)
        log += "01.0" + std::to_string(trial + 1) + ".2025 08:00 earlier run " + std::to_string(trial) + ", line " +
               std::to_string(line) + "\r\n";
    return log;
}

class OverlappingRuns : public ProgramTest {};

TEST_F(OverlappingRuns, FiveRunsAtOnceOnALogDueForRotationLoseNoLineAndKeepTheOldLogWhole)
{
    WriteSettings(
        "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n"
        "QuietMode=Y\r\n");
    const Lines perRun = {"*** VEL started ***",
                          "started in quiet mode",
                          "detected current connection via LAN",
                          "starting connect to 127.0.0.1 (local test server)",
                          kAskedOverNtp,
                          kRefusedBothWays};
    const std::regex whole(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d [^\r\n]+)");

    for (int trial = 0; trial < 3; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        const std::string earlier = EarlierLog(trial);
        ASSERT_GT(earlier.size(), 10000u);
        std::ofstream(home / "Veltrane.log", std::ios::binary) << earlier;
        std::ofstream(home / "OldLog.log", std::ios::binary) << "the rotation before\r\n";

        RunOptions options;
        options.arguments = "noupdate";
        options.instances = kRuns;
        const ProgramRun run = Run(options);  // nothing listens on port 13
        EXPECT_EQ(run.exitStatuses, std::vector<int>(kRuns, 1)) << run.output;

        // OldLog.log is the earlier log, whole; none of the new lines went there.
        EXPECT_EQ(ReadFile(home / "OldLog.log"), earlier);

        // The new log starts with a start marker and holds every line of every
        // run once, each one whole: each run writes the same lines, so each
        // line is there once a run.
        ASSERT_FALSE(run.log.empty());
        EXPECT_EQ(run.log.front(), "*** VEL started ***");
        std::map<std::string, int> counts;
        for (const std::string& line : perRun)
            counts[line] = 0;
        for (std::size_t i = 0; i < run.log.size(); ++i) {
            EXPECT_TRUE(std::regex_match(run.stampedLog[i], whole)) << "torn: " << run.stampedLog[i];
            ++counts[run.log[i]];
        }
        for (const auto& [line, count] : counts)
            EXPECT_EQ(count, kRuns) << line;
        const std::string log = ReadFile(home / "Veltrane.log");
        EXPECT_EQ(log.substr(log.size() - 2), "\r\n");

        // Each run saved the settings at its end: the file is whole.
        const std::string settings = ReadSettings();
        EXPECT_EQ(settings.rfind("[Main]\r\n", 0), 0u) << settings;
        EXPECT_NE(settings.find("OnlyIfConnected=N\r\n"), std::string::npos) << settings;
        // No temporary file left in the folder.
        for (const auto& entry : fs::directory_iterator(home)) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "Veltrane.INI" || name == "Veltrane.log" || name == "OldLog.log") << name;
        }
    }
}

}  // namespace
}  // namespace vel::integration
