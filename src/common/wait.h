// Waiting while the window system goes on handling events.
#pragma once

#include "platform/clock.h"
#include "platform/event_pump.h"

namespace vel {

// Waits `seconds` (measured on the monotonic clock, so a change of the time of
// day neither stretches nor cuts it) while dispatching events. Blocks on the
// event queue between events; never spins. When the time is already up at the
// first check, no event is handled. Looks at no flag.
void WaitSeconds(platform::EventPump& pump, platform::Clock& clock, float seconds);

}  // namespace vel
