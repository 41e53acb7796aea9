// The command line: the words anywhere, the options as whole arguments, and
// what is refused.
#include "common/command_line.h"

#include <gtest/gtest.h>

namespace vel {
namespace {

TEST(StartOptions, WordsAnywhereOptionsWholeAndUnknownOptionsRefused)
{
    struct Case {
        std::vector<std::string> args;
        const char* options;  // the letters of those set: Configuration, Noupdate, Debug, Quiet, Machine
        const char* refused;
    };
    const Case cases[] = {
        {{"/home/me/ReConfigure.txt", "NOUPDATE", "Debug"}, "CND", nullptr},
        {{"--config", "--dry-run", "--debug", "--quiet", "--machine"}, "CNDQM", nullptr},
        {{"-n", "-q", "-quiet", "/QUIET", "--noupdate-please"}, "NQ", nullptr},  // words after a dash count
        {{"--help", "-h", "--version", "--elevated", "x-"}, "", nullptr},
        {{"--install-machine", "NTPServer=x", "--uninstall-machine", "--purge", "--write-task-xml", "C:\\t"},
         "",
         nullptr},
        {{"noup", "date", "--machines"}, "", "--machines"},  // a word lies within one argument
        {{"-N", "-x"}, "", "-N"},                            // options are spelt exactly; the first refused is named
        {{"--verbose"}, "", "--verbose"},
        {{"--no-update"}, "", "--no-update"},
        {{"-nq"}, "", "-nq"},
        {{"--"}, "", "--"},
        {{"--MACHINE"}, "", "--MACHINE"},
    };
    for (const Case& c : cases) {
        const StartOptions o = ReadStartOptions(c.args);
        std::string set;
        for (const auto& [on, letter] : {std::pair{o.configuration, 'C'}, std::pair{o.noUpdate, 'N'},
                                         std::pair{o.debug, 'D'}, std::pair{o.quiet, 'Q'}, std::pair{o.machine, 'M'}})
            if (on)
                set += letter;
        EXPECT_EQ(set, c.options) << ::testing::PrintToString(c.args);
        EXPECT_EQ(UnrecognizedOption(c.args), c.refused ? std::optional<std::string>(c.refused) : std::nullopt)
            << ::testing::PrintToString(c.args);
    }
}

}  // namespace
}  // namespace vel
