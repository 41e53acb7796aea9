// --help, -h and --version anywhere; options of the other system refused.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "about/version_info.h"
#include "app/app.h"
#include "run/program_information.h"

namespace vel {
namespace {

using Args = std::vector<std::string>;

// Every argument list in one table: what it gets before any run, on Linux
// and on Windows, where the installers' options are known.
TEST(AnswerBeforeRun, HelpOrVersionAnywhereElseTheFirstUnknownOptionIsRefused)
{
    enum Kind { Run, Help, Version, Refused };
    struct Case {
        Args args;
        Kind linux, windows;
        const char* refused;  // the option named, where refused
    };
    const Case cases[] = {
        {{}, Run, Run, nullptr},
        {{"--help"}, Help, Help, nullptr},
        {{"-h"}, Help, Help, nullptr},
        {{"--version"}, Version, Version, nullptr},
        {{"--help", "x"}, Help, Help, nullptr},
        {{"x", "--help"}, Help, Help, nullptr},
        {{"--version", "--version"}, Version, Version, nullptr},
        {{"-h", "-n"}, Help, Help, nullptr},
        {{"--version", "--help"}, Help, Help, nullptr},  // --help wins
        {{"--verbose", "-h"}, Help, Help, nullptr},
        {{"config", "--version", "-x"}, Version, Version, nullptr},
        {{"noupdate", "--verbose"}, Refused, Refused, "--verbose"},
        {{"--write-task-xml", "C:\\t.xml"}, Refused, Run, "--write-task-xml"},
        {{"--install-machine", "NTPServer=x"}, Refused, Run, "--install-machine"},
        {{"--uninstall-machine", "--purge"}, Refused, Run, "--uninstall-machine"},
        {{"--purge"}, Refused, Run, "--purge"},
        {{"config", "--elevated"}, Refused, Run, "--elevated"},
        {{"--open-log", "--machine", "--dry-run", "-quiet", "/QUIET", "--noupdate-please"}, Run, Run, nullptr},
        {{"--helpconfig", "x-"}, Run, Run, nullptr},  // words inside an argument that is no option
        {{"--HELP"}, Refused, Refused, "--HELP"},     // options are spelt exactly
        {{"-help"}, Refused, Refused, "-help"},
        {{"--version="}, Refused, Refused, "--version="},
        {{"noup", "date", "--machines"}, Refused, Refused, "--machines"},
        {{"-N", "-x"}, Refused, Refused, "-N"},  // the first refused is named
        {{"--no-update"}, Refused, Refused, "--no-update"},
        {{"-nq"}, Refused, Refused, "-nq"},
        {{"--"}, Refused, Refused, "--"},
        {{"--MACHINE"}, Refused, Refused, "--MACHINE"},
    };
    const std::string log = "/home/me/.config/veltrane/Veltrane.log";
    for (const Case& c : cases) {
        for (const auto& [system, kind] :
             {std::pair{OptionSystem::Linux, c.linux}, std::pair{OptionSystem::Windows, c.windows}}) {
            SCOPED_TRACE(::testing::PrintToString(c.args) +
                         (system == OptionSystem::Linux ? " on Linux" : " on Windows"));
            const std::optional<AnswerWithoutRun> answer = AnswerBeforeRun(c.args, system, log);
            ASSERT_EQ(answer.has_value(), kind != Run);
            if (kind == Run)
                continue;
            EXPECT_EQ(answer->text, kind == Help      ? UsageText(log)
                                    : kind == Version ? VersionLine() + "\n"
                                                      : "veltrane: unrecognized option '" + std::string(c.refused) +
                                                            "'\nTry 'veltrane --help' for more information.\n");
            EXPECT_EQ(answer->toStandardError, kind == Refused);
            EXPECT_EQ(answer->status, kind == Refused ? 64 : 0);
        }
    }
}

TEST(InformationRequested, TheVersionIsTheProjectsAsTheAboutBoxShowsIt)
{
    const std::string expected = "Veltrane " + std::to_string(kVersionInfo.Major) + "." +
                                 std::to_string(kVersionInfo.Minor) +
                                 (kVersionInfo.Revision > 0 ? "." + std::to_string(kVersionInfo.Revision) : "");
    EXPECT_EQ(VersionLine(), expected);
    EXPECT_EQ(VersionLine(), "Veltrane 1.55");  // the release this tree builds
}

TEST(InformationRequested, TheUsageNamesTheWordsTheFilesTheLogAndEveryExitStatusInLine)
{
    const std::string usage = UsageText("/home/me/.config/veltrane/Veltrane.log");
    // The options: see TheManualPageAndTheCompletionNameEveryOption.
    for (const char* text : {"config", "noupdate", "debug", "quiet", "Veltrane.INI", "Veltrane.log", "OldLog.log",
                             "VELTRANE_HOME", "~/.config/veltrane", "/etc/veltrane", "/var/log/veltrane",
                             "\n  /home/me/.config/veltrane/Veltrane.log\n", "veltrane(1)"})
        EXPECT_NE(usage.find(text), std::string::npos) << text;
    // Each status right-aligned before its text, and every text in one column.
    for (ExitStatus status :
         {ExitStatus::Ok, ExitStatus::NoTime, ExitStatus::ClockNotSet, ExitStatus::Cancelled, ExitStatus::NotConnected,
          ExitStatus::Fatal, ExitStatus::KeptByTimeService, ExitStatus::NotAnswering, ExitStatus::NoLogOpened,
          ExitStatus::Usage, ExitStatus::NotPermitted}) {
        const std::string number = std::to_string(static_cast<int>(status));
        EXPECT_NE(usage.find("\n" + std::string(7 - number.size(), ' ') + number + "  "), std::string::npos) << number;
    }
    const std::size_t table = usage.find("Exit status:\n");
    ASSERT_NE(table, std::string::npos);
    int rows = 0;
    for (std::size_t at = usage.find('\n', table) + 1; usage[at] != '\n'; at = usage.find('\n', at) + 1, ++rows) {
        const std::string line = usage.substr(at, usage.find('\n', at) - at);
        EXPECT_TRUE(line.size() > 9 && line.substr(7, 2) == "  " && line[9] != ' ') << line;
    }
    EXPECT_GE(rows, 13);
    // A terminal of 80 columns shows every line whole.
    std::size_t start = 0;
    while (start < usage.size()) {
        const std::size_t end = usage.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "the text ends with a line end";
        EXPECT_LE(end - start, 79u) << usage.substr(start, end - start);
        start = end + 1;
    }
}

// Every option the program takes is in the usage, the manual page and bash's
// completion, as a whole word (with groff's escaped dashes in the manual page).
TEST(InformationRequested, TheManualPageAndTheCompletionNameEveryOption)
{
    const auto read = [](const char* file) {
        std::ifstream in(std::string(VELTRANE_TEST_DATA) + "/../../dist/" + file);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const std::string option : {"--quiet", "-q", "--dry-run", "-n", "--config", "--debug", "--machine",
                                     "--open-log", "--history", "--rate-limited", "--help", "-h", "--version"}) {
        const std::string pattern = "[^-A-Za-z0-9]" + option + "[^-A-Za-z0-9]";
        const std::string groff = "[^-A-Za-z0-9]" + std::regex_replace(option, std::regex("-"), "\\\\-") + "[ \n]";
        EXPECT_TRUE(std::regex_search(" " + UsageText("/x/Veltrane.log"), std::regex(pattern))) << option;
        EXPECT_TRUE(std::regex_search(read("veltrane.1"), std::regex(groff))) << option;
        EXPECT_TRUE(std::regex_search(read("bash-completion/veltrane"), std::regex(pattern))) << option;
    }
}

}  // namespace
}  // namespace vel
