// A calendar date and time of day in the PC's local time, to the whole second.
#pragma once

#include <cstdint>
#include <string>

namespace vel::platform {

// The zero value (all fields 0) stands for a time that was not obtained.
struct LocalDateTime {
    int year = 0;
    int month = 0;   // 1..12
    int day = 0;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59

    bool IsZero() const { return year == 0 && month == 0 && day == 0 && hour == 0 && minute == 0 && second == 0; }
    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
std::int64_t DaysFromCivil(int year, int month, int day);

// Seconds of the date-time counted from 1970-01-01 00:00:00 of the same
// (local) calendar: naive arithmetic, no time zone involved.
std::int64_t ToSerialSeconds(const LocalDateTime& t);
LocalDateTime FromSerialSeconds(std::int64_t serial);

LocalDateTime AddSeconds(const LocalDateTime& t, std::int64_t seconds);

// a - b in seconds.
std::int64_t DiffSeconds(const LocalDateTime& a, const LocalDateTime& b);

bool IsValidDate(int year, int month, int day);
bool IsValidTimeOfDay(int hour, int minute, int second);

// "2024-04-11 15:30:02": for test messages and debugging.
std::string ToIsoText(const LocalDateTime& t);

}  // namespace vel::platform
