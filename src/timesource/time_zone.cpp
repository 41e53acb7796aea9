#include "timesource/time_zone.h"

#include <limits>

#include "app/app.h"

namespace vel {

std::int32_t GetTimeZoneBias(App& app)
{
    platform::TimeZoneInformation info;
    const int id = app.platform.clock.GetTimeZoneInformation(info);
    // Sum in 64 bits: a broken record must not overflow.
    const std::int64_t bias = static_cast<std::int64_t>(info.Bias) +
                              (id == platform::TimeZoneId::Daylight ? info.DaylightBias : info.StandardBias);
    if (bias > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (bias < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(bias);
}

std::int32_t GetTimeZoneOffsetSeconds(App& app)
{
    // No zone on earth is a day off UTC: a broken record is clamped there.
    constexpr std::int64_t kLimit = 24 * 3600;
    const std::int64_t seconds = -static_cast<std::int64_t>(GetTimeZoneBias(app)) * 60;
    return static_cast<std::int32_t>(seconds > kLimit ? kLimit : seconds < -kLimit ? -kLimit : seconds);
}

std::int16_t GetTimeZoneHours(App& app)
{
    // -bias / 60 to the nearest whole hour, halves to the even one; in
    // integers, so no rounding mode of the floating-point unit is involved.
    const std::int64_t minutes = -static_cast<std::int64_t>(GetTimeZoneBias(app));
    std::int64_t hours = minutes / 60;
    std::int64_t rest = minutes % 60;
    if (rest < 0) {
        rest += 60;
        --hours;
    }
    if (rest > 30 || (rest == 30 && hours % 2 != 0))
        ++hours;
    if (hours > std::numeric_limits<std::int16_t>::max())
        return std::numeric_limits<std::int16_t>::max();
    if (hours < std::numeric_limits<std::int16_t>::min())
        return std::numeric_limits<std::int16_t>::min();
    return static_cast<std::int16_t>(hours);
}

}  // namespace vel
