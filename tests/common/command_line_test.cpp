// The command line: the words anywhere, the options as whole arguments, and
// what is refused.
#include "common/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vel {
namespace {

using Args = std::vector<std::string>;

TEST(StartOptions, WordsAnywhereOptionsWhole)
{
    struct Case {
        Args args;
        StartOptions expected;  // configuration, noUpdate, debug, quiet, machine
    };
    const Case cases[] = {
        {{}, {}},
        {{"config"}, {true, false, false, false, false}},
        {{"/home/me/ReConfigure.txt"}, {true, false, false, false, false}},
        {{"--config"}, {true, false, false, false, false}},
        {{"NOUPDATE", "Debug"}, {false, true, true, false, false}},
        {{"--dry-run"}, {false, true, false, false, false}},
        {{"-n"}, {false, true, false, false, false}},
        {{"-N"}, {}},  // options are spelt exactly
        {{"--debug"}, {false, false, true, false, false}},
        {{"--quiet"}, {false, false, false, true, false}},
        {{"-q"}, {false, false, false, true, false}},
        {{"/QUIET"}, {false, false, false, true, false}},
        {{"--machine", "config"}, {true, false, false, false, true}},
        {{"--machine=1"}, {}},
        {{"x-n", "-qq", "--machines"}, {}},
        {{"noup", "date"}, {}},  // a word lies within one argument
    };
    for (const Case& c : cases) {
        const StartOptions got = ReadStartOptions(c.args);
        const auto tuple = [](const StartOptions& o) {
            return std::vector<bool>{o.configuration, o.noUpdate, o.debug, o.quiet, o.machine};
        };
        EXPECT_EQ(tuple(got), tuple(c.expected)) << ::testing::PrintToString(c.args);
    }
}

TEST(StartOptions, AnOptionNoneKnowsIsRefusedUnlessItHoldsAWord)
{
    // Understood: the options, the Windows installers' own, words with any
    // prefix, and whatever does not begin with "-".
    for (const Args& args :
         {Args{}, Args{"-q", "--quiet", "-n", "--dry-run", "--config", "--debug", "--machine"},
          Args{"--help", "noupdate"}, Args{"-h", "--version"}, Args{"--install-machine", "NTPServer=x", "Delay=5"},
          Args{"--uninstall-machine", "--purge"}, Args{"--write-task-xml", "C:\\task.xml"},
          Args{"--machine", "config", "--elevated"}, Args{"-quiet", "-NoUpdate", "--debugging", "-Config"},
          Args{"/x", "x-", ""}})
        EXPECT_EQ(UnrecognizedOption(args), std::nullopt) << ::testing::PrintToString(args);

    struct Case {
        Args args;
        const char* refused;
    };
    const Case cases[] = {
        {{"-x"}, "-x"},
        {{"--verbose"}, "--verbose"},
        {{"--no-update"}, "--no-update"},  // not the word
        {{"-"}, "-"},
        {{"--"}, "--"},
        {{"-nq"}, "-nq"},
        {{"--MACHINE"}, "--MACHINE"},
        {{"config", "--bogus", "-y"}, "--bogus"},  // the first
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnrecognizedOption(c.args), c.refused) << ::testing::PrintToString(c.args);
}

}  // namespace
}  // namespace vel
