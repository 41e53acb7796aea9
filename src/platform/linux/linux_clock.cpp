#include "platform/linux/linux_clock.h"

#include <langinfo.h>
#include <time.h>

#include <cerrno>
#include <cstring>

namespace vel::platform {

LocalTimestamp LinuxClock::Now()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    LocalTimestamp t;
    t.time = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
              local.tm_sec > 59 ? 59 : local.tm_sec};
    t.nanoseconds = static_cast<std::int32_t>(ts.tv_nsec);
    return t;
}

double LinuxClock::MonotonicSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int LinuxClock::GetTimeZoneInformation(TimeZoneInformation& info)
{
    info = {};
    const time_t now = ::time(nullptr);
    tm local{};
    if (::localtime_r(&now, &local) == nullptr)
        return TIME_ZONE_ID_INVALID;
    // tm_gmtoff is local minus UTC in seconds; the bias is UTC minus local in minutes.
    const auto bias = static_cast<std::int32_t>(-local.tm_gmtoff / 60);
    if (local.tm_isdst > 0) {
        // Express it as the standard bias plus a daylight bias of one hour.
        info.Bias = bias + 60;
        info.DaylightBias = -60;
        return TIME_ZONE_ID_DAYLIGHT;
    }
    info.Bias = bias;
    return local.tm_isdst == 0 ? TIME_ZONE_ID_STANDARD : TIME_ZONE_ID_UNKNOWN;
}

ClockSetResult LinuxClock::SetLocalDateTime(const LocalTimestamp&)
{
    return {false, ENOSYS, "setting the clock is not built yet"};
}

std::string LinuxClock::TimeSeparator()
{
    // The separator that follows the hours in the locale's time format.
    const char* format = ::nl_langinfo(T_FMT);
    if (format) {
        const char* hours = std::strstr(format, "%H");
        if (!hours)
            hours = std::strstr(format, "%I");
        if (hours && hours[2] != '\0' && hours[2] != '%')
            return std::string(1, hours[2]);
    }
    return ":";
}

}  // namespace vel::platform
