#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "support/test_app.h"
#include "timesource/daytime_answer.h"
#include "timesource/time_zone.h"

namespace vel {
namespace {

using platform::LocalDateTime;
using test::TestApp;

const std::string kNist = "\n60411 24-04-11 15:30:02 50 0 0 405.3 UTC(NIST) *";

// The UTC date-time an answer names, as "2024-04-11 15:30:02"; empty when
// the answer is not valid.
std::string Named(std::string_view answer)
{
    const auto read = ParseDaytimeAnswer(answer);
    return read ? platform::ToIsoText(read->utc) : "";
}

// A NIST answer for 20YR-MO-DA HH:MM:SS, as a server sends it.
std::string Nist(const std::string& date, const std::string& time)
{
    return "\n60411 " + date + " " + time + " 50 0 0 405.3 UTC(NIST) * \n";
}

TEST(DaytimeAnswer, NistLayoutGivesMonthDayYearAndTime)
{
    EXPECT_EQ(Named(kNist), "2024-04-11 15:30:02");
    EXPECT_EQ(Named(kNist + " \n"), "2024-04-11 15:30:02");
    // Only the date and the time are looked at; the other fields may say anything.
    EXPECT_EQ(Named("\nXXXXX 24-04-11 15:30:02 whatever"), "2024-04-11 15:30:02");
    // The answer may end right after the time.
    EXPECT_EQ(Named("\n60411 24-04-11 15:30:02"), "2024-04-11 15:30:02");
}

TEST(DaytimeAnswer, ShortLayoutGivesMonthNameDayYearAndTime)
{
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 2024"), "2024-04-11 15:30:02");
    // A server's line end after the year is the end of the line.
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 2024\r\n"), "2024-04-11 15:30:02");
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 2024  \n"), "2024-04-11 15:30:02");
    // A one-digit day padded with a blank, as ctime() writes it.
    EXPECT_EQ(Named("Mon Apr  1 00:00:00 2024\r\n"), "2024-04-01 00:00:00");
    EXPECT_EQ(Named("Thu FEB 29 23:59:59 2024"), "2024-02-29 23:59:59");
}

TEST(DaytimeAnswer, ValidityOfTheNistFields)
{
    EXPECT_EQ(Named(Nist("24-04-11", "24:00:00")), "");
    EXPECT_EQ(Named(Nist("24-04-11", "23:60:00")), "");
    EXPECT_EQ(Named(Nist("24-04-11", "23:59:60")), "");  // a leap second is not a time of day here
    EXPECT_EQ(Named(Nist("24-02-30", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("23-02-29", "12:00:00")), "");  // 2023 is no leap year
    EXPECT_EQ(Named(Nist("24-02-29", "12:00:00")), "2024-02-29 12:00:00");
    EXPECT_EQ(Named(Nist("24-13-01", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("24-00-01", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("24-04-00", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("24-04-31", "12:00:00")), "");
    // Fixed-width digits only: no signs, blanks or other separators.
    EXPECT_EQ(Named(Nist("24-+4-11", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("24- 4-11", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("24-04/11", "12:00:00")), "");
    EXPECT_EQ(Named(Nist("24-04-11", "12.00.00")), "");
    EXPECT_EQ(Named(Nist("24-04-11", "1:00:000")), "");
}

TEST(DaytimeAnswer, ValidityOfTheShortFields)
{
    EXPECT_EQ(Named("Thu Abr 11 15:30:02 2024"), "");
    EXPECT_EQ(Named("Thu Apr 31 15:30:02 2024"), "");
    EXPECT_EQ(Named("Thu Apr 00 15:30:02 2024"), "");
    EXPECT_EQ(Named("Thu Apr 11 24:00:00 2024"), "");
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 24"), "");
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 20245"), "");
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 2024 UTC"), "");
    EXPECT_EQ(Named("Thu Apr 11 15:30:02"), "");
    // Line ends inside the fields are not blanks.
    EXPECT_EQ(Named("Thu Apr 11 15:30:02\n2024"), "");
}

// A NIST line with the given health digit H.
std::string NistWithHealth(const std::string& h)
{
    return "\n61382 26-12-07 13:53:33 00 0 " + h + "  50.0 UTC(NIST) * \n";
}

TEST(DaytimeAnswer, NistHealthTwoAndMoreIsInvalid)
{
    // 0 healthy, 1 possibly up to 5 s off: believed.
    EXPECT_EQ(Named(NistWithHealth("0")), "2026-12-07 13:53:33");
    EXPECT_EQ(Named(NistWithHealth("1")), "2026-12-07 13:53:33");
    // 2 known to be off, 3 and 4 failure or maintenance: not believed.
    EXPECT_EQ(Named(NistWithHealth("2")), "");
    EXPECT_EQ(Named(NistWithHealth("4")), "");
    EXPECT_EQ(Named(NistWithHealth("9")), "");
    EXPECT_EQ(Named(NistWithHealth("10")), "");
    EXPECT_EQ(Named(NistWithHealth("01")), "2026-12-07 13:53:33");
    EXPECT_EQ(Named("\n61382 26-12-07 13:53:33 00 0 4"), "");
    // H is the third field after the time, however the blanks fall.
    EXPECT_EQ(Named("\n61382 26-12-07 13:53:33  00  0  2  50.0 UTC(NIST) *"), "");
    // No numeric H: nothing to judge by.
    EXPECT_EQ(Named("\n61382 26-12-07 13:53:33 00 0 x 50.0"), "2026-12-07 13:53:33");
    EXPECT_EQ(Named("\n61382 26-12-07 13:53:33 00 0"), "2026-12-07 13:53:33");
}

TEST(DaytimeAnswer, XinetdLayoutInUtc)
{
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 UTC\r\n"), "2026-12-07 13:53:33");
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 UTC\n"), "2026-12-07 13:53:33");
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 UTC"), "2026-12-07 13:53:33");
    EXPECT_EQ(Named("29 FEB 2028 00:00:00 GMT\r\n"), "2028-02-29 00:00:00");
    EXPECT_EQ(ParseDaytimeAnswer("07 DEC 2026 13:53:33 UTC\r\n")->utc, (LocalDateTime{2026, 12, 7, 13, 53, 33}));
    // Another zone is not UTC; neither is a missing one.
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 EST\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 CET\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026 13:53:33\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 UTCX\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026 13:53:33 UTC and more\r\n"), "");
    // Every field is checked.
    EXPECT_EQ(Named("07 DXC 2026 13:53:33 UTC\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026 24:00:00 UTC\r\n"), "");
    EXPECT_EQ(Named("31 NOV 2026 13:53:33 UTC\r\n"), "");
    EXPECT_EQ(Named("00 DEC 2026 13:53:33 UTC\r\n"), "");
    EXPECT_EQ(Named("07 DEC 26 13:53:33 UTC\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026 13.53.33 UTC\r\n"), "");
    EXPECT_EQ(Named("07 DEC 2026  13:53:33 UTC\r\n"), "");
    EXPECT_EQ(Named(std::string("07 DEC 2026 13:53:33 UTC\0", 25)), "");
    // The other layouts keep their places.
    EXPECT_EQ(Named("Mon Dec  7 13:53:33 2026\r\n"), "2026-12-07 13:53:33");
}

// Only a NIST line with its label and marker is on time, and msADV is read
// from it; any other line names a second within which it was sent.
TEST(DaytimeAnswer, OnlyANistLineWithLabelAndMarkerIsOnTime)
{
    const platform::Instant second = platform::InstantOfUtc({2026, 12, 7, 13, 53, 33});
    auto ms = [](std::int64_t milliseconds) { return platform::MakeSpan(0, milliseconds * 1000000); };
    struct Case {
        std::string line;
        std::int64_t advanceMs;  // -1: not an on-time line
    };
    const Case cases[] = {
        {"\n61382 26-12-07 13:53:33 00 0 0  50.0 UTC(NIST) * \n", 50},
        {"\n61382 26-12-07 13:53:33 00 0 0 405.3 UTC(NIST) #", -2},  // 405.3 ms
        {"\n61382 26-12-07 13:53:33 00 0 0 0 UTC(NIST) *\n", 0},
        // Without the label, the marker or msADV, or with something after
        // them, it is a NIST-like line that names a second within which it was sent.
        {"\n61382 26-12-07 13:53:33 00 0 0  50.0 UTC(NIST)\n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0  50.0 UTC(USNO) *\n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0 UTC(NIST) * \n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0 5O.0 UTC(NIST) * \n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0 1000 UTC(NIST) * \n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0 50. UTC(NIST) * \n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0  50.0 UTC(NIST) + \n", -1},
        {"\n61382 26-12-07 13:53:33 00 0 0  50.0 UTC(NIST) * extra\n", -1},
        {"\n61382 26-12-07 13:53:33", -1},
        {"Mon Dec  7 13:53:33 2026\r\n", -1},
        {"07 DEC 2026 13:53:33 UTC\r\n", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PrintableAnswer(c.line));
        const auto read = ParseDaytimeAnswer(c.line);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->named, second);
        if (c.advanceMs == -1)
            EXPECT_FALSE(read->onTimeAdvance);
        else
            EXPECT_EQ(read->onTimeAdvance, c.advanceMs == -2 ? platform::MakeSpan(0, 405300000) : ms(c.advanceMs));
    }
    EXPECT_FALSE(ParseDaytimeAnswer("07 DEC 2026 13:53:33 EST\r\n"));
    EXPECT_FALSE(ParseDaytimeAnswer(NistWithHealth("2")));
}

// Each row of the table tells its own layout, and the layout read is kept.
TEST(DaytimeAnswer, EachLayoutIsToldByItsRow)
{
    const std::pair<const char*, DaytimeLayout> cases[] = {
        {"\n61382 26-12-07 13:53:33 00 0 0  50.0 UTC(NIST) *\n", DaytimeLayout::Nist},
        {"Mon Dec  7 13:53:33 2026\r\n", DaytimeLayout::Short},
        {"07 DEC 2026 13:53:33 UTC\r\n", DaytimeLayout::Xinetd},
    };
    for (const auto& [line, layout] : cases) {
        SCOPED_TRACE(PrintableAnswer(line));
        int fits = 0;
        for (const DaytimeLayoutRow& row : kDaytimeLayouts)
            fits += row.layout != DaytimeLayout::Nist && row.isOfLayout(line);
        EXPECT_EQ(fits, layout == DaytimeLayout::Nist ? 0 : 1);
        const auto read = ParseDaytimeAnswer(line);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->layout, layout);
        EXPECT_EQ(read->utc, (LocalDateTime{2026, 12, 7, 13, 53, 33}));
    }
}

TEST(DaytimeAnswer, TheSpecimenWithoutItsLineFeedIsInvalid)
{
    EXPECT_EQ(Named(kNist.substr(1)), "");
}

TEST(DaytimeAnswer, EmptyShortAndBinaryAnswersAreInvalidWithoutFailing)
{
    for (std::size_t length = 0; length < kNist.size(); ++length) {
        SCOPED_TRACE(length);
        const std::string cut = kNist.substr(0, length);
        EXPECT_EQ(Named(cut), length >= 24 ? "2024-04-11 15:30:02" : "");
    }
    std::string withNul = kNist;
    withNul[8] = '\0';  // inside YR
    EXPECT_EQ(Named(withNul), "");
    std::string nulTime = kNist;
    nulTime[20] = '\0';
    EXPECT_EQ(Named(nulTime), "");
    EXPECT_EQ(Named(std::string("Thu\0Apr 11 15:30:02 2024", 24)), "");
    EXPECT_EQ(Named(std::string(64, '\0')), "");
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary += static_cast<char>(i);
    EXPECT_EQ(Named(binary), "");
    // A flood of text after the year is no year.
    EXPECT_EQ(Named("Thu Apr 11 15:30:02 " + std::string(70000, '2')), "");
}

TEST(DaytimeAnswer, NistYearsAreThisCentury)
{
    // The two-digit year would make 30 into 1930 and set the clock back a century.
    EXPECT_EQ(ParseDaytimeAnswer(Nist("30-01-02", "03:04:05"))->utc, (LocalDateTime{2030, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ParseDaytimeAnswer(Nist("99-12-31", "23:59:59"))->utc, (LocalDateTime{2099, 12, 31, 23, 59, 59}));
    EXPECT_EQ(ParseDaytimeAnswer(Nist("00-02-29", "00:00:00"))->utc, (LocalDateTime{2000, 2, 29, 0, 0, 0}));
}

TEST(DaytimeAnswer, ConversionAddsTheExactCurrentOffset)
{
    TestApp t;
    // The bias in minutes, UTC = local + bias.
    auto zone = [&t](std::int32_t bias) { t.clock.SetUtcOffset(-bias * 60); };
    zone(-60);  // UTC+1, no daylight saving
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer(kNist)), (LocalDateTime{2024, 4, 11, 16, 30, 2}));

    // Across midnight and the year's end, both ways.
    zone(-120);
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer(Nist("24-12-31", "23:30:00"))),
              (LocalDateTime{2025, 1, 1, 1, 30, 0}));
    zone(300);
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer("Mon Jan  1 02:00:00 2024\r\n")),
              (LocalDateTime{2023, 12, 31, 21, 0, 0}));
    // Zones that are not whole hours, to the minute: never the rounded hours.
    zone(-330);  // Kolkata
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer(kNist)), (LocalDateTime{2024, 4, 11, 21, 0, 2}));
    zone(-345);  // Kathmandu
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer(kNist)), (LocalDateTime{2024, 4, 11, 21, 15, 2}));
    zone(210);  // St John's
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer(kNist)), (LocalDateTime{2024, 4, 11, 12, 0, 2}));
    zone(-630);  // Adelaide in summer, +10:30
    EXPECT_EQ(ConvertAnswerToLocal(t.app, *ParseDaytimeAnswer(kNist)), (LocalDateTime{2024, 4, 12, 2, 0, 2}));
}

TEST(DaytimeAnswer, PrintableAnswerEscapesAndBounds)
{
    EXPECT_EQ(PrintableAnswer(""), "");
    EXPECT_EQ(PrintableAnswer("\n60411 24-04-11\r\n"), "\\n60411 24-04-11\\r\\n");
    EXPECT_EQ(PrintableAnswer(std::string("a\0b\x7f\xff\t\\", 7)), "a\\x00b\\x7F\\xFF\\t\\\\");
    const std::string flood(65536, 'x');
    EXPECT_EQ(PrintableAnswer(flood), std::string(kPrintableAnswerLimit, 'x') + "... (65536 bytes)");
}

TEST(TimeZone, TheOffsetIsReadAtTheMomentOfTheQuery)
{
    TestApp t;
    t.clock.SetZone([](const platform::Instant& utc) {
        const int month = platform::UtcDateTime(utc).month;
        return month >= 4 && month <= 9 ? 7200 : 3600;
    });
    EXPECT_EQ(GetTimeZoneOffsetSeconds(t.app), 3600);  // February
    t.clock.JumpWallClock(90.0 * 86400);
    EXPECT_EQ(GetTimeZoneOffsetSeconds(t.app), 7200);  // May
}

TEST(TimeZone, AnAbsurdOffsetIsHeldWithinADay)
{
    TestApp t;
    const std::int32_t cases[][2] = {{INT32_MIN, -86400}, {INT32_MAX, 86400}, {-86401, -86400}, {86400, 86400}};
    for (const auto& c : cases) {
        t.clock.SetZone(test::FixedZone(c[0]));
        EXPECT_EQ(GetTimeZoneOffsetSeconds(t.app), c[1]) << c[0];
    }
}

}  // namespace
}  // namespace vel
