#include "common/wait.h"

#include "common/app.h"

namespace vel {

void WaitSeconds(App& app, float seconds)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    const double start = clock.MonotonicSeconds();
    for (;;) {
        double elapsed = clock.MonotonicSeconds() - start;
        if (elapsed >= seconds)
            return;
        pump.DoEvents();
        elapsed = clock.MonotonicSeconds() - start;
        if (elapsed >= seconds)
            return;
        pump.WaitForEvents(seconds - elapsed);
    }
}

}  // namespace vel
