#include "timesource/daytime_answer.h"

#include <array>
#include <cstdint>
#include <vector>

#include "app/app.h"
#include "common/text.h"
#include "timesource/time_zone.h"

namespace vel {

namespace {

using platform::LocalDateTime;

// Positions count from 1, as in the protocol's field tables; a piece beyond
// the end of the answer is shortened or empty.
std::string_view Piece(std::string_view text, std::size_t first, std::size_t last)
{
    if (first > text.size())
        return {};
    const std::size_t count = last == std::string_view::npos ? std::string_view::npos : last - first + 1;
    return text.substr(first - 1, count);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Exactly `width` digits.
std::optional<int> Digits(std::string_view text, std::size_t width)
{
    if (text.size() != width)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "HH:MM:SS", 00:00:00 to 23:59:59.
bool ReadTime(std::string_view text, LocalDateTime& t)
{
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return false;
    const auto h = Digits(text.substr(0, 2), 2);
    const auto m = Digits(text.substr(3, 2), 2);
    const auto s = Digits(text.substr(6, 2), 2);
    if (!h || !m || !s || !platform::IsValidTimeOfDay(*h, *m, *s))
        return false;
    t.hour = *h;
    t.minute = *m;
    t.second = *s;
    return true;
}

// NIST date text "MO-DA-YR". The two-digit year is this century's: a server
// that says 30 means 2030, never 1930.
bool ReadNistDate(std::string_view text, LocalDateTime& t)
{
    if (text.size() != 8 || text[2] != '-' || text[5] != '-')
        return false;
    const auto mo = Digits(text.substr(0, 2), 2);
    const auto da = Digits(text.substr(3, 2), 2);
    const auto yr = Digits(text.substr(6, 2), 2);
    if (!mo || !da || !yr)
        return false;
    const int year = 2000 + *yr;
    if (!platform::IsValidDate(year, *mo, *da))
        return false;
    t.year = year;
    t.month = *mo;
    t.day = *da;
    return true;
}

constexpr std::array<std::string_view, 12> kMonthNames = {"jan", "feb", "mar", "apr", "may", "jun",
                                                          "jul", "aug", "sep", "oct", "nov", "dec"};

std::optional<int> MonthNumber(std::string_view name)
{
    if (name.size() != 3)
        return std::nullopt;
    for (std::size_t i = 0; i < kMonthNames.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < 3; ++k) {
            char c = name[k];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            same = same && c == kMonthNames[i][k];
        }
        if (same)
            return static_cast<int>(i) + 1;
    }
    return std::nullopt;
}

// Short-layout date text "Mon D YYYY": a month name, a day of one or two
// digits and a four-digit year, separated by one or more blanks.
bool ReadShortDate(std::string_view text, LocalDateTime& t)
{
    if (text.size() < 10 || text[3] != ' ')
        return false;
    const auto month = MonthNumber(text.substr(0, 3));
    std::string_view rest = TrimBlanks(text.substr(3));
    const std::size_t blank = rest.find(' ');
    if (!month || blank == std::string_view::npos || blank > 2)
        return false;
    const auto day = Digits(rest.substr(0, blank), blank);
    const auto year = Digits(TrimBlanks(rest.substr(blank)), 4);
    if (!day || !year || !platform::IsValidDate(*year, *month, *day))
        return false;
    t.year = *year;
    t.month = *month;
    t.day = *day;
    return true;
}

// The year piece of the short layout runs to the end of the answer; the
// server's line end after the year is the end of the line, not part of it.
std::string_view StripLineEnd(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// xinetd's built-in service: "07 DEC 2026 13:53:33 UTC" and a line end. Told
// from the NIST layout (a line feed and five digits) by the blank at position 3
// and the month's letters after it.
bool HasXinetdLayout(std::string_view answer)
{
    return answer.size() >= 7 && answer[2] == ' ' && IsLetter(answer[3]) && IsLetter(answer[4]) &&
           IsLetter(answer[5]) && answer[6] == ' ';
}

// The fields of a NIST line after its time (TT, L, H, msADV, label, marker),
// separated by blanks; the line end separates too. Only the first few are
// looked at, so a flood costs nothing.
constexpr std::size_t kNistFieldLimit = 8;
std::vector<std::string_view> NistFields(std::string_view answer)
{
    std::vector<std::string_view> fields;
    std::string_view rest = Piece(answer, 25, std::string_view::npos);
    auto separator = [](char c) { return c == ' ' || c == '\r' || c == '\n'; };
    while (fields.size() < kNistFieldLimit) {
        while (!rest.empty() && separator(rest.front()))
            rest.remove_prefix(1);
        if (rest.empty())
            break;
        std::size_t end = 0;
        while (end < rest.size() && !separator(rest[end]))
            ++end;
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    return fields;
}

// H, the field after L: 0 healthy, 1 possibly up to 5 seconds off, 2 and more
// known to be wrong or failed. A line without a numeric H is not judged.
bool ReportsItselfUnhealthy(std::string_view answer)
{
    const std::vector<std::string_view> fields = NistFields(answer);
    if (fields.size() < 3 || fields[2].empty())
        return false;
    bool aboveOne = false;
    for (std::size_t i = 0; i < fields[2].size(); ++i) {
        const char c = fields[2][i];
        if (!IsDigit(c))
            return false;
        // 2 and more: any non-zero digit before the last, or a last one of 2 to 9.
        aboveOne = aboveOne || (i + 1 < fields[2].size() ? c != '0' : c >= '2');
    }
    return aboveOne;
}

// The NIST layout: a line feed, then "JJJJJ YR-MO-DA HH:MM:SS TT L H msADV
// UTC(NIST) *". Whatever is neither of the other layouts is read as this one.
bool IsNistLayout(std::string_view)
{
    return true;
}

std::optional<platform::Span> ReadOnTimeAdvance(std::string_view answer)
{
    const std::vector<std::string_view> fields = NistFields(answer);
    if (fields.size() != 6 || fields[4] != "UTC(NIST)" || (fields[5] != "*" && fields[5] != "#"))
        return std::nullopt;
    // msADV: up to three digits of milliseconds, a point and a few decimals.
    const std::string_view advance = fields[3];
    const std::size_t point = advance.find('.');
    const std::string_view whole = advance.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? "" : advance.substr(point + 1);
    if (whole.empty() || whole.size() > 3 || fraction.size() > 6 ||
        (point != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    std::int64_t nanoseconds = 0;
    for (const char c : whole) {
        if (!IsDigit(c))
            return std::nullopt;
        nanoseconds = nanoseconds * 10 + (c - '0');
    }
    nanoseconds *= 1000000;
    std::int64_t scale = 100000;
    for (const char c : fraction) {
        if (!IsDigit(c))
            return std::nullopt;
        nanoseconds += (c - '0') * scale;
        scale /= 10;
    }
    return platform::MakeSpan(0, nanoseconds);
}

std::optional<DaytimeAnswer> ReadNist(std::string_view answer)
{
    if (ReportsItselfUnhealthy(answer))
        return std::nullopt;
    DaytimeAnswer read;
    if (!ReadNistDate(std::string(Piece(answer, 11, 15)) + "-" + std::string(Piece(answer, 8, 9)), read.utc) ||
        !ReadTime(Piece(answer, 17, 24), read.utc))
        return std::nullopt;
    read.onTimeAdvance = ReadOnTimeAdvance(answer);
    return read;
}

// The short layout: "Www Mmm dd hh:mm:ss yyyy" (ctime's), told by the blank
// at position 4.
bool IsShortLayout(std::string_view answer)
{
    return answer.size() >= 4 && answer[3] == ' ';
}

std::optional<DaytimeAnswer> ReadShort(std::string_view answer)
{
    // Anything longer than a year and its line end is not a year: do not
    // copy a flood.
    const std::string_view year = StripLineEnd(TrimBlanks(Piece(answer, 21, std::string_view::npos)));
    if (year.size() != 4)
        return std::nullopt;
    DaytimeAnswer read;
    if (!ReadShortDate(std::string(TrimBlanks(Piece(answer, 4, 10))) + " " + std::string(year), read.utc) ||
        !ReadTime(TrimBlanks(Piece(answer, 12, 20)), read.utc))
        return std::nullopt;
    return read;
}

std::optional<DaytimeAnswer> ReadXinetd(std::string_view answer)
{
    // "DD MMM YYYY HH:MM:SS ZZZ": blanks at 3, 7, 12 and 21, then the zone
    // and nothing but the line end. Only UTC is UTC.
    const std::string_view zone = Piece(answer, 22, 24);
    if (Piece(answer, 12, 12) != " " || Piece(answer, 21, 21) != " " || (zone != "UTC" && zone != "GMT") ||
        !StripLineEnd(Piece(answer, 25, std::string_view::npos)).empty())
        return std::nullopt;
    DaytimeAnswer read;
    if (!ReadShortDate(std::string(Piece(answer, 4, 6)) + " " + std::string(Piece(answer, 1, 2)) + " " +
                           std::string(Piece(answer, 8, 11)),
                       read.utc) ||
        !ReadTime(Piece(answer, 13, 20), read.utc))
        return std::nullopt;
    return read;
}

}  // namespace

const std::array<DaytimeLayoutRow, 3> kDaytimeLayouts = {{
    {DaytimeLayout::Xinetd, "xinetd", HasXinetdLayout, ReadXinetd},
    {DaytimeLayout::Short, "short", IsShortLayout, ReadShort},
    {DaytimeLayout::Nist, "NIST", IsNistLayout, ReadNist},
}};

std::optional<DaytimeAnswer> ParseDaytimeAnswer(std::string_view answer)
{
    for (const DaytimeLayoutRow& row : kDaytimeLayouts) {
        if (!row.isOfLayout(answer))
            continue;
        std::optional<DaytimeAnswer> read = row.read(answer);
        if (read) {
            read->layout = row.layout;
            read->named = platform::InstantOfUtc(read->utc);
        }
        return read;
    }
    return std::nullopt;
}

platform::LocalDateTime ConvertAnswerToLocal(App& app, const DaytimeAnswer& answer)
{
    return platform::AddSeconds(answer.utc, GetTimeZoneOffsetSeconds(app));
}

std::string PrintableAnswer(std::string_view answer)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    const std::string_view shown = answer.substr(0, kPrintableAnswerLimit);
    for (char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (c == '\\') {
            text += "\\\\";
        } else if (byte < 0x20 || byte > 0x7E) {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0x0F];
        } else {
            text += c;
        }
    }
    if (answer.size() > shown.size())
        text += "... (" + std::to_string(answer.size()) + " bytes)";
    return text;
}

}  // namespace vel
