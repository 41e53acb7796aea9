// The PC's offset from UTC.
#pragma once

#include <cstdint>

namespace vel {

class App;

// Minutes, UTC = local time + bias: Bias + DaylightBias in daylight time, else
// Bias + StandardBias (0 when the platform has no answer).
std::int32_t GetTimeZoneBias(App& app);

// Local time minus UTC in seconds, exactly: -bias * 60. Every conversion
// between the server's UTC and the PC's local time uses this one.
std::int32_t GetTimeZoneOffsetSeconds(App& app);

// Local time minus UTC in whole hours, halves to the even neighbour
// (+5:30 gives +6, -2:30 gives -2); positive east of Greenwich. A number to
// show or compare only: nothing is converted or corrected with it.
std::int16_t GetTimeZoneHours(App& app);

}  // namespace vel
