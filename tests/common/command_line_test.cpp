// The command line: the words anywhere, the options as whole arguments.
// (What is refused: tests/run/program_information_test.cpp.)
#include "common/command_line.h"

#include <gtest/gtest.h>

namespace vel {
namespace {

TEST(StartOptions, WordsAnywhereAndOptionsWhole)
{
    struct Case {
        std::vector<std::string> args;
        // The letters of those set: Configuration, Noupdate, Debug, Quiet, Machine, open-Log
        const char* options;
    };
    const Case cases[] = {
        {{"/home/me/ReConfigure.txt", "NOUPDATE", "Debug"}, "CND"},
        {{"--config", "--dry-run", "--debug", "--quiet", "--machine", "--open-log"}, "CNDQML"},
        {{"-n", "-q", "-quiet", "/QUIET", "--noupdate-please"}, "NQ"},  // words after a dash count
        {{"--help", "-h", "--version", "--elevated", "x-"}, ""},
        {{"noup", "date", "--machines", "--open-logs", "-N", "--MACHINE"}, ""},  // a word lies within one argument
    };
    for (const Case& c : cases) {
        const StartOptions o = ReadStartOptions(c.args);
        std::string set;
        for (const auto& [on, letter] :
             {std::pair{o.configuration, 'C'}, std::pair{o.noUpdate, 'N'}, std::pair{o.debug, 'D'},
              std::pair{o.quiet, 'Q'}, std::pair{o.machine, 'M'}, std::pair{o.openLog, 'L'}})
            if (on)
                set += letter;
        EXPECT_EQ(set, c.options) << ::testing::PrintToString(c.args);
    }
}

}  // namespace
}  // namespace vel
