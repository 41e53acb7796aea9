// Waiting while the window system goes on handling events.
#pragma once

namespace vel {

class App;

// Waits `seconds` (measured on the monotonic clock, so a change of the time of
// day neither stretches nor cuts it) while dispatching events. Blocks on the
// event queue between events; never spins. When the time is already up at the
// first check, no event is handled. Looks at no flag.
void WaitSeconds(App& app, float seconds);

}  // namespace vel
