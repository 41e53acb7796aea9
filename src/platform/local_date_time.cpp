#include "platform/local_date_time.h"

#include <cstdio>

namespace vel::platform {

// Howard Hinnant's days_from_civil / civil_from_days.
std::int64_t DaysFromCivil(int year, int month, int day)
{
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

static void CivilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::int64_t ToSerialSeconds(const LocalDateTime& t)
{
    return DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

LocalDateTime FromSerialSeconds(std::int64_t serial)
{
    std::int64_t days = serial / 86400;
    std::int64_t rest = serial % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    LocalDateTime t;
    CivilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

LocalDateTime AddSeconds(const LocalDateTime& t, std::int64_t seconds)
{
    return FromSerialSeconds(ToSerialSeconds(t) + seconds);
}

std::int64_t DiffSeconds(const LocalDateTime& a, const LocalDateTime& b)
{
    return ToSerialSeconds(a) - ToSerialSeconds(b);
}

bool IsValidDate(int year, int month, int day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int last = month == 2 && leap ? 29 : kDays[month - 1];
    return day <= last;
}

bool IsValidTimeOfDay(int hour, int minute, int second)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::string ToIsoText(const LocalDateTime& t)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

}  // namespace vel::platform
