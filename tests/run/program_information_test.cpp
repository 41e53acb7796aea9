// --help, -h and --version: only as the whole command line.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
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

// Every option the program takes is in the usage, in the manual page and in
// bash's completion, as a whole word.
bool HasOption(const std::string& text, const std::string& option)
{
    const auto inWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; };
    for (std::size_t at = text.find(option); at != std::string::npos; at = text.find(option, at + 1))
        if ((at == 0 || !inWord(text[at - 1])) &&
            (at + option.size() == text.size() || !inWord(text[at + option.size()])))
            return true;
    return false;
}

TEST(InformationRequested, TheManualPageAndTheCompletionNameEveryOption)
{
    const auto read = [](const char* file) {
        std::ifstream in(std::string(VELTRANE_TEST_DATA) + "/../../dist/" + file);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string manual = read("veltrane.1");
    const std::string completion = read("bash-completion/veltrane");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(completion.empty());
    for (const std::string option :
         {"--quiet", "-q", "--dry-run", "-n", "--config", "--debug", "--machine", "--help", "-h", "--version"}) {
        std::string groff;  // "\\-\\-quiet"
        for (char c : option)
            groff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_TRUE(HasOption(UsageText(), option)) << option;
        EXPECT_TRUE(HasOption(manual, groff)) << option;
        EXPECT_TRUE(HasOption(completion, option)) << option;
    }
}

}  // namespace
}  // namespace vel
