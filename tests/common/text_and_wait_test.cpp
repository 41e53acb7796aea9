#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "common/wait.h"
#include "support/test_app.h"

namespace vel {
namespace {

TEST(IsBlank, OnlyBlanksCount)
{
    EXPECT_TRUE(IsBlank(""));
    EXPECT_TRUE(IsBlank("   "));
    EXPECT_FALSE(IsBlank("\t"));
    EXPECT_FALSE(IsBlank(" x "));
    EXPECT_FALSE(IsBlank("\r\n"));
}

TEST(Trim, EachNameSaysWhatGoes)
{
    const std::string text = " \t x y \r\n";
    EXPECT_EQ(TrimBlanks(text), "\t x y \r\n");
    EXPECT_EQ(TrimBlanksAndTabs(text), "x y \r\n");
    EXPECT_EQ(TrimBlanksTabsAndLineEnds(text), "x y");
    EXPECT_EQ(TrimBlanks("  a  "), "a");
    EXPECT_EQ(TrimBlanksAndTabs("\ta\t"), "a");
    EXPECT_EQ(TrimBlanksTabsAndLineEnds("512\n"), "512");
    for (const char* empty : {"", " ", "   "}) {
        EXPECT_EQ(TrimBlanks(empty), "");
        EXPECT_EQ(TrimBlanksAndTabs(empty), "");
        EXPECT_EQ(TrimBlanksTabsAndLineEnds(empty), "");
    }
    EXPECT_EQ(TrimBlanksAndTabs(" \t \t"), "");
    EXPECT_EQ(TrimBlanksTabsAndLineEnds("\r\n \t"), "");
    EXPECT_TRUE(IsBlankOrTab(' ') && IsBlankOrTab('\t'));
    EXPECT_FALSE(IsBlankOrTab('\r') || IsBlankOrTab('\n') || IsBlankOrTab('x') || IsBlankOrTab('\0'));
}

TEST(Split, PiecesLinesAndWords)
{
    using Pieces = std::vector<std::string_view>;
    using namespace std::string_view_literals;
    EXPECT_EQ(SplitAt("a\0b\0"sv, '\0'), (Pieces{"a", "b"}));
    EXPECT_EQ(SplitAt("a\0\0b"sv, '\0'), (Pieces{"a", "", "b"}));
    EXPECT_EQ(SplitAt("", ','), Pieces{});
    EXPECT_EQ(SplitAt(",", ','), (Pieces{""}));

    EXPECT_EQ(SplitLines("one\r\ntwo\n\nlast"), (Pieces{"one", "two", "", "last"}));
    EXPECT_EQ(SplitLines("only\n"), (Pieces{"only"}));
    EXPECT_EQ(SplitLines("a\rb\r\r\n"), (Pieces{"a\rb\r"})) << "one CR before the LF goes";

    EXPECT_EQ(SplitAtBlanksAndTabs("  eth0\t00000000 \t\t0003  "), (Pieces{"eth0", "00000000", "0003"}));
    EXPECT_EQ(SplitAtBlanksAndTabs(" \t "), Pieces{});
    EXPECT_EQ(SplitAtBlanksAndTabs("a\r\nb"), (Pieces{"a\r\nb"}));
}

TEST(NumericKeyFilter, DigitsPointMinusAndBackspacePass)
{
    for (char c : std::string("0123456789.-"))
        EXPECT_EQ(NumericKeyFilter(c), c) << c;
    EXPECT_EQ(NumericKeyFilter(8), 8);
    for (int c : std::initializer_list<int>{'a', 'Z', ' ', '+', ',', 'e', 0, 13, 27, 127, -1, 300})
        EXPECT_EQ(NumericKeyFilter(static_cast<std::int16_t>(c)), 0) << c;
}

TEST(WaitSeconds, EndsAfterItsTimeAndHandlesEventsMeanwhile)
{
    test::TestApp t;
    int handled = 0;
    t.pump.After(0.3, [&] { ++handled; });
    t.pump.After(0.9, [&] { ++handled; });
    t.pump.After(1.2, [&] { ++handled; });  // after the wait
    WaitSeconds(t.app.platform.pump, t.app.platform.clock, 1.0f);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 1.0);
    EXPECT_EQ(handled, 2);
}

TEST(WaitSeconds, ZeroHandlesNoEvent)
{
    test::TestApp t;
    bool handled = false;
    t.pump.Post([&] { handled = true; });
    WaitSeconds(t.app.platform.pump, t.app.platform.clock, 0.0f);
    EXPECT_FALSE(handled);
    EXPECT_EQ(t.pump.DoEventsCalls(), 0);
}

TEST(WaitSeconds, KeepsItsLengthWhenTheTimeOfDayJumps)
{
    // Across local midnight, and across a correction or daylight-saving change
    // of the PC clock: the wait is measured on the monotonic clock.
    test::TestApp t;
    t.clock = test::VirtualClock({2025, 3, 30, 23, 59, 59});
    t.clock.Advance(0.5);
    t.pump.After(0.2, [&] { t.clock.JumpWallClock(-3600); });
    t.pump.After(0.4, [&] { t.clock.JumpWallClock(+7200); });
    const double start = t.clock.MonotonicSeconds();
    WaitSeconds(t.app.platform.pump, t.app.platform.clock, 1.0f);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds() - start, 1.0);
}

TEST(WaitSeconds, BlocksInsteadOfSpinning)
{
    test::TestApp t;
    WaitSeconds(t.app.platform.pump, t.app.platform.clock, 3.0f);
    // One pass to dispatch, one blocking wait for the whole time.
    EXPECT_LE(t.pump.WaitCalls(), 2);
}

}  // namespace
}  // namespace vel
