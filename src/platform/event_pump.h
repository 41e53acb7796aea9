// The event queue of the window system: every wait of the program goes through it.
#pragma once

#include <functional>

namespace vel::platform {

class EventPump {
public:
    virtual ~EventPump() = default;

    // Dispatches every event that is pending now; never blocks.
    virtual void DoEvents() = 0;

    // Blocks until an event of the program (a click, a close, socket data or
    // error, a posted task) has been dispatched, or until maxSeconds have passed
    // on the monotonic clock. Never spins.
    virtual void WaitForEvents(double maxSeconds) = 0;

    // Runs the task from the event queue as soon as it is dispatched (a
    // zero-time timer): never inside the caller.
    virtual void Post(std::function<void()> task) = 0;

    // Back ends call this after they delivered an event to the program, so that
    // a WaitForEvents in progress returns.
    virtual void Wake() = 0;
};

}  // namespace vel::platform
