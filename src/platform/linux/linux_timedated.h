// systemd-timedated's SetTime over D-Bus: how a user without the right to set
// the clock may still have it set, polkit asking a desktop user for leave.
#pragma once

#include <string>

#include "platform/instant.h"

namespace vel::platform {

struct TimedatedOptions {
    std::string busAddress;  // a D-Bus address; empty: the system bus
    int timeoutMs = 60000;   // how long polkit may take to ask the user
};

// Asks systemd-timedated to move the clock by `step`, forward when positive
// (SetTime: microseconds, relative, interactive). timedated adds the step to
// its own reading of the clock when it sets it, after polkit has answered, so
// however long polkit takes to ask the user adds nothing to the setting.
// Until the answer comes or the time-out passes, the thread's event loop
// runs: windows repaint and buttons answer meanwhile. Empty on success, else
// the reason for the log; `errorName` (when given) then holds the D-Bus
// error's name, empty where no call was answered.
std::string StepTimeThroughTimedated(const Span& step, const TimedatedOptions& options = {},
                                     std::string* errorName = nullptr);

// The step in whole microseconds, rounded to the nearest.
std::int64_t Microseconds(const Span& step);

}  // namespace vel::platform
