// --help, -h and --version: only as the whole command line.
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

TEST(InformationRequested, OnlyTheWholeCommandLineAsksForIt)
{
    EXPECT_EQ(InformationRequested({"--help"}), UsageText());
    EXPECT_EQ(InformationRequested({"-h"}), UsageText());
    EXPECT_EQ(InformationRequested({"--version"}), VersionLine() + "\n");

    // Anything else is a start as ever, where the words count as substrings.
    for (const Args& args : {Args{}, Args{"--help", "noupdate"}, Args{"noupdate", "--version"}, Args{"--HELP"},
                             Args{"-H"}, Args{"--Version"}, Args{" --help"}, Args{"--help "}, Args{"--helpconfig"},
                             Args{"-help"}, Args{"-v"}, Args{"--version="}, Args{"--version", ""}, Args{"-h", "-h"}})
        EXPECT_FALSE(InformationRequested(args).has_value()) << ::testing::PrintToString(args);
}

TEST(InformationRequested, AnUnknownOptionIsNamedWithThePointerToHelp)
{
    EXPECT_EQ(ArgumentsRefused({"noupdate", "--verbose"}),
              "veltrane: unrecognized option '--verbose'\nTry 'veltrane --help' for more information.\n");
    EXPECT_EQ(ArgumentsRefused({"--dry-run", "-quiet"}), std::nullopt);
}

TEST(InformationRequested, TheVersionIsTheProjectsAsTheAboutBoxShowsIt)
{
    const std::string expected = "Veltrane " + std::to_string(kVersionInfo.Major) + "." +
                                 std::to_string(kVersionInfo.Minor) +
                                 (kVersionInfo.Revision > 0 ? "." + std::to_string(kVersionInfo.Revision) : "");
    EXPECT_EQ(VersionLine(), expected);
    EXPECT_EQ(VersionLine(), "Veltrane 1.55");  // the release this tree builds
}

TEST(InformationRequested, TheUsageNamesTheWordsTheFilesAndEveryExitStatus)
{
    const std::string usage = UsageText();
    for (const char* text : {"config",        "noupdate",
                             "debug",         "quiet",
                             "--quiet",       "-q",
                             "--dry-run",     "-n",
                             "--config",      "--debug",
                             "--machine",     "--help",
                             "--version",     "Veltrane.INI",
                             "Veltrane.log",  "OldLog.log",
                             "VELTRANE_HOME", "~/.config/veltrane",
                             "/etc/veltrane", "/var/log/veltrane",
                             "veltrane(1)"})
        EXPECT_NE(usage.find(text), std::string::npos) << text;
    for (ExitStatus status :
         {ExitStatus::Ok, ExitStatus::NoTime, ExitStatus::ClockNotSet, ExitStatus::Cancelled, ExitStatus::NotConnected,
          ExitStatus::Fatal, ExitStatus::KeptByTimeService, ExitStatus::Usage, ExitStatus::NotPermitted})
        EXPECT_NE(usage.find("\n  " + std::to_string(static_cast<int>(status)) + "  "), std::string::npos)
            << static_cast<int>(status);
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
    for (const std::string option :
         {"--quiet", "-q", "--dry-run", "-n", "--config", "--debug", "--machine", "--help", "-h", "--version"}) {
        const std::string pattern = "[^-A-Za-z0-9]" + option + "[^-A-Za-z0-9]";
        const std::string groff = "[^-A-Za-z0-9]" + std::regex_replace(option, std::regex("-"), "\\\\-") + "[ \n]";
        EXPECT_TRUE(std::regex_search(" " + UsageText(), std::regex(pattern))) << option;
        EXPECT_TRUE(std::regex_search(read("veltrane.1"), std::regex(groff))) << option;
        EXPECT_TRUE(std::regex_search(read("bash-completion/veltrane"), std::regex(pattern))) << option;
    }
}

}  // namespace
}  // namespace vel
