#include "common/wait.h"

namespace vel {

void WaitSeconds(platform::EventPump& pump, platform::Clock& clock, float seconds)
{
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
