// The PC's offset from UTC.
#pragma once

#include <cstdint>

namespace vel {

class App;

// Local time minus UTC in seconds, exactly, as the clock reads it now (held
// within a day of UTC). Every conversion between the server's UTC and the
// PC's local time uses this one.
std::int32_t GetTimeZoneOffsetSeconds(App& app);

}  // namespace vel
