#include "run/history.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/text.h"
#include "log/log.h"

namespace vel {

namespace {

constexpr std::string_view kOffBy = "system clock off by ";
constexpr std::string_view kCorrect = "system clock correct";
constexpr std::string_view kCorrectedTo = "system clock corrected to ";
constexpr std::string_view kOffset = "the PC clock is ";

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

int Digits(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "MM.DD.YYYY HH:MM " (any one character between hours and minutes, the
// locale's): the days since 1970 of the stamp; nullopt for no log line.
std::optional<double> StampDay(std::string_view line)
{
    if (line.size() < 17 || line[2] != '.' || line[5] != '.' || line[10] != ' ' || line[16] != ' ')
        return std::nullopt;
    const int month = Digits(line, 0, 2), day = Digits(line, 3, 2), year = Digits(line, 6, 4);
    const int hour = Digits(line, 11, 2), minute = Digits(line, 14, 2);
    if (month < 0 || day < 0 || year < 0 || hour < 0 || minute < 0 || !platform::IsValidDate(year, month, day) ||
        !platform::IsValidTimeOfDay(hour, minute, 0))
        return std::nullopt;
    return static_cast<double>(platform::ToSerialSeconds({year, month, day, hour, minute, 0})) / 86400.0;
}

// "the PC clock is 1234 ms ahead of the server, ..." or "... ms behind the
// server, ...": seconds, positive ahead.
std::optional<double> OffsetIn(std::string_view text)
{
    text.remove_prefix(kOffset.size());
    const std::size_t blank = text.find(' ');
    if (blank == 0 || blank == std::string_view::npos || blank > 18)
        return std::nullopt;
    const std::string number(text.substr(0, blank));
    if (number.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const double milliseconds = std::strtod(number.c_str(), nullptr);
    const std::string_view rest = text.substr(blank);
    if (StartsWith(rest, " ms ahead of the server"))
        return milliseconds / 1000.0;
    if (StartsWith(rest, " ms behind the server"))
        return -milliseconds / 1000.0;
    return std::nullopt;
}

// "95.123 s", "1.8", "12": tenths below ten, whole numbers above; hundredths
// below a tenth.
std::string Amount(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, value < 0.1 ? "%.2f" : value < 10 ? "%.1f" : "%.0f", value);
    return text;
}

std::string Span(double days)
{
    if (days >= 2)
        return std::to_string(static_cast<long>(std::lround(days))) + " days";
    const long hours = std::lround(days * 24);
    return std::to_string(hours) + (hours == 1 ? " hour" : " hours");
}

struct Point {
    int group;  // points of one group share their line's start
    double x;   // days since the group's start
    double y;   // offset, seconds
};

}  // namespace

std::vector<Comparison> ReadComparisons(const std::vector<std::string_view>& logs)
{
    // The run being read; a log that begins inside a run counts from its
    // first line.
    std::vector<Comparison> comparisons;
    Comparison run;
    bool compared = false;
    const auto finish = [&] {
        if (compared)
            comparisons.push_back(run);
        run = Comparison{};
        compared = false;
    };
    for (const std::string_view log : logs) {
        for (std::string_view line : SplitLines(log)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                line.remove_suffix(1);
            const std::optional<double> day = StampDay(line);
            if (!day)
                continue;
            const std::string_view text = line.substr(17);
            if (text == kLogStartMarker) {
                finish();
                continue;
            }
            if (text == kCorrect || StartsWith(text, kOffBy)) {
                compared = true;
                run.stamp = std::string(line.substr(0, 16));
                run.day = *day;
                if (StartsWith(text, kOffBy))
                    run.offBy = std::string(text.substr(kOffBy.size()));
            } else if (StartsWith(text, kOffset)) {
                run.offsetSeconds = OffsetIn(text);
            } else if (StartsWith(text, kCorrectedTo) && compared) {
                run.corrected = true;
                run.correctedDay = *day;
            }
        }
    }
    finish();
    return comparisons;
}

std::optional<Drift> EstimateDrift(const std::vector<Comparison>& comparisons)
{
    // Before the first correction the line's start is unknown (group 1);
    // after each correction the clock starts where corrections leave it
    // (group 0, all alike), and x counts from that correction.
    std::vector<Point> points;
    std::optional<double> start;
    double first = 0, last = 0;
    for (const Comparison& c : comparisons) {
        if (c.offsetSeconds) {
            points.push_back(start ? Point{0, c.day - *start, *c.offsetSeconds} : Point{1, c.day, *c.offsetSeconds});
            first = points.size() == 1 ? c.day : first;
            last = c.day;
        }
        if (c.corrected)
            start = c.correctedDay;
    }
    double n[2] = {0, 0}, sx[2] = {0, 0}, sy[2] = {0, 0};
    for (const Point& p : points) {
        n[p.group] += 1;
        sx[p.group] += p.x;
        sy[p.group] += p.y;
    }
    const int groups = (n[0] > 0 ? 1 : 0) + (n[1] > 0 ? 1 : 0);
    double sxx = 0, sxy = 0;
    for (const Point& p : points) {
        const double dx = p.x - sx[p.group] / n[p.group];
        sxx += dx * dx;
        sxy += dx * (p.y - sy[p.group] / n[p.group]);
    }
    const int freedom = static_cast<int>(points.size()) - groups - 1;
    if (freedom < 1 || sxx <= 0 || last - first < 1.0 / 24)
        return std::nullopt;
    const double slope = sxy / sxx;
    double residuals = 0;
    for (const Point& p : points) {
        const double r = p.y - sy[p.group] / n[p.group] - slope * (p.x - sx[p.group] / n[p.group]);
        residuals += r * r;
    }
    return Drift{slope, std::sqrt(residuals / freedom / sxx), static_cast<int>(points.size()), last - first};
}

std::string DescribeDrift(const std::optional<Drift>& drift, bool anyComparison)
{
    if (!anyComparison)
        return "No run in the log has compared the clock yet.";
    if (!drift)
        return "Too few measured runs to tell how the clock drifts: it takes three at least, an hour apart or more.";
    const double rate = std::fabs(drift->secondsPerDay);
    const std::string basis = "(give or take " + Amount(drift->spread) + " s a day, from " +
                              std::to_string(drift->runs) + " runs over " + Span(drift->days) + ").";
    if (rate < 0.05)
        return "The clock keeps time: it drifts less than 0.05 s a day " + basis;
    return std::string("The clock ") + (drift->secondsPerDay > 0 ? "gains" : "loses") + " about " + Amount(rate) +
           " s a day " + basis;
}

std::string HistoryText(const std::vector<Comparison>& comparisons)
{
    std::string text;
    if (!comparisons.empty())
        text += "Date              Difference found                    Corrected\n";
    for (const Comparison& c : comparisons) {
        std::string found;
        if (c.offsetSeconds) {
            char amount[48];
            std::snprintf(amount, sizeof amount, "%.3f s %s", std::fabs(*c.offsetSeconds),
                          *c.offsetSeconds < 0 ? "behind" : "ahead");
            found = amount;
        } else {
            found = c.offBy.empty() ? "within the tolerance" : "off by " + c.offBy;
        }
        if (found.size() < 34)
            found.resize(34, ' ');
        text += c.stamp + "  " + found + "  " + (c.corrected ? "yes" : "no") + "\n";
    }
    return text + DescribeDrift(EstimateDrift(comparisons), !comparisons.empty()) + "\n";
}

ExitStatus ShowHistory(App& app)
{
    platform::Environment& environment = app.platform.environment;
    std::vector<std::string> texts;
    std::string read;
    for (const char* name : {kOldLogFileName, kLogFileName}) {
        const std::string path = app.LogFile(name);
        platform::SystemError error;
        if (std::optional<std::string> text = environment.ReadFileBytes(path, 4 * 1024 * 1024, error)) {
            texts.push_back(std::move(*text));
            read += (read.empty() ? "" : " and ") + path;
        }
    }
    std::vector<std::string_view> logs(texts.begin(), texts.end());
    const std::string from = read.empty()
                                 ? "No log to read in " + app.platform.environment.Process().folders.log + ".\n"
                                 : "From " + read + ":\n";
    environment.WriteStandardOutput(from + HistoryText(ReadComparisons(logs)));
    return ExitStatus::Ok;
}

}  // namespace vel
