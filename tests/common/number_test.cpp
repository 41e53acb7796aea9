// Numbers in the settings file: the leading decimal number, rounded half to even.
#include "common/number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace vel::number {
namespace {

TEST(NumericValue, LongestLeadingDecimalNumber)
{
    EXPECT_EQ(NumericValue("12"), 12.0);
    EXPECT_EQ(NumericValue("  12abc"), 12.0);
    EXPECT_EQ(NumericValue("\t 7"), 7.0);
    EXPECT_EQ(NumericValue("+3"), 3.0);
    EXPECT_EQ(NumericValue("-5"), -5.0);
    EXPECT_EQ(NumericValue("10.4"), 10.4);
    EXPECT_EQ(NumericValue(".5"), 0.5);
    EXPECT_EQ(NumericValue("-.5"), -0.5);
    EXPECT_EQ(NumericValue("5."), 5.0);
    EXPECT_EQ(NumericValue("5.x"), 5.0);
    EXPECT_EQ(NumericValue("1.5e1"), 15.0);
    EXPECT_EQ(NumericValue("2E+2"), 200.0);
    EXPECT_EQ(NumericValue("25e-1"), 2.5);
    EXPECT_EQ(NumericValue("007"), 7.0);
    // The number ends where the text stops forming one.
    EXPECT_EQ(NumericValue("1 2"), 1.0);
    EXPECT_EQ(NumericValue("1.2.3"), 1.2);
    EXPECT_EQ(NumericValue("3,5"), 3.0);
    EXPECT_EQ(NumericValue("--4"), 0.0);
    EXPECT_EQ(NumericValue("0x10"), 0.0);
}

TEST(NumericValue, ExponentWithoutDigitsIsNoPartOfTheNumber)
{
    EXPECT_EQ(NumericValue("1e"), 1.0);
    EXPECT_EQ(NumericValue("1e+"), 1.0);
    EXPECT_EQ(NumericValue("4E-x"), 4.0);
    EXPECT_EQ(NumericValue("2.5e"), 2.5);
}

TEST(NumericValue, TextThatDoesNotBeginWithANumberIsZero)
{
    for (const char* text : {"", " ", "-", "+", ".", "-.", "e5", "abc", "nan", "NaN", "inf", "-infinity", "\x01\xFF"}) {
        EXPECT_EQ(NumericValue(text), 0.0) << '"' << text << '"';
    }
}

TEST(NumericValue, OutOfDoubleRange)
{
    EXPECT_EQ(NumericValue("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumericValue("-1e999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumericValue("0.0001e309"), 1e305);
    EXPECT_EQ(NumericValue(std::string(400, '9')), std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumericValue("1e-999"), 0.0);
    EXPECT_EQ(NumericValue("0.000e99999999999999999999"), 0.0);
    EXPECT_EQ(NumericValue("5e99999999999999999999999999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(NumericValue("5e-99999999999999999999999999"), 0.0);
    EXPECT_EQ(NumericValue("1e999e999"), std::numeric_limits<double>::infinity());
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
    EXPECT_EQ(RoundHalfEven(59.5), 60.0);
    EXPECT_EQ(RoundHalfEven(2147483646.5), 2147483646.0);
}

TEST(RoundHalfEven, OtherwiseToTheNearest)
{
    EXPECT_EQ(RoundHalfEven(10.4), 10.0);
    EXPECT_EQ(RoundHalfEven(10.6), 11.0);
    EXPECT_EQ(RoundHalfEven(2.4999999), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3.0);
    EXPECT_EQ(RoundHalfEven(-10.6), -11.0);
    EXPECT_EQ(RoundHalfEven(-10.4), -10.0);
    EXPECT_EQ(RoundHalfEven(1e300), 1e300);
    EXPECT_EQ(RoundHalfEven(std::numeric_limits<double>::infinity()), std::numeric_limits<double>::infinity());
    EXPECT_EQ(RoundHalfEven(-std::numeric_limits<double>::infinity()), -std::numeric_limits<double>::infinity());
}

TEST(WholeValue, TextToWholeNumber)
{
    EXPECT_EQ(WholeValue("12.5"), 12.0);
    EXPECT_EQ(WholeValue("13.5"), 14.0);
    EXPECT_EQ(WholeValue("2.5"), 2.0);
    EXPECT_EQ(WholeValue("25e-1"), 2.0);
    EXPECT_EQ(WholeValue("-2.5"), -2.0);
    EXPECT_EQ(WholeValue("a word"), 0.0);
}

TEST(WholeInt32, WithinTheSigned32BitRangeOnly)
{
    EXPECT_EQ(WholeInt32("30"), std::optional<std::int32_t>(30));
    EXPECT_EQ(WholeInt32("-2"), std::optional<std::int32_t>(-2));
    EXPECT_EQ(WholeInt32("word"), std::optional<std::int32_t>(0));
    EXPECT_EQ(WholeInt32("2147483647"), std::optional<std::int32_t>(2147483647));
    EXPECT_EQ(WholeInt32("-2147483648"), std::optional<std::int32_t>(-2147483647 - 1));
    EXPECT_EQ(WholeInt32("2147483647.4"), std::optional<std::int32_t>(2147483647));
    EXPECT_EQ(WholeInt32("-2147483648.5"), std::optional<std::int32_t>(-2147483647 - 1));
    EXPECT_EQ(WholeInt32("2147483647.5"), std::nullopt);  // rounds to 2147483648
    EXPECT_EQ(WholeInt32("2147483648"), std::nullopt);
    EXPECT_EQ(WholeInt32("-2147483649"), std::nullopt);
    EXPECT_EQ(WholeInt32("4294967326"), std::nullopt);  // would wrap round to 30
    EXPECT_EQ(WholeInt32("1e999"), std::nullopt);
    EXPECT_EQ(WholeInt32("-1e999"), std::nullopt);
    EXPECT_EQ(WholeInt32("1e10"), std::nullopt);
}

}  // namespace
}  // namespace vel::number
