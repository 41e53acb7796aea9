#include "timesource/time_zone.h"

#include "app/app.h"

namespace vel {

std::int32_t GetTimeZoneOffsetSeconds(App& app)
{
    // No zone on earth is a day off UTC: a broken answer is clamped there.
    constexpr std::int32_t kLimit = 24 * 3600;
    const std::int32_t seconds = app.platform.clock.Read().utcOffsetSeconds;
    return seconds > kLimit ? kLimit : seconds < -kLimit ? -kLimit : seconds;
}

}  // namespace vel
