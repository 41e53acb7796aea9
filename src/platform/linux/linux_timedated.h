// systemd-timedated's SetTime over D-Bus: how a user without the right to set
// the clock may still have it set, polkit asking a desktop user for leave.
#pragma once

#include <ctime>
#include <string>

namespace vel::platform {

struct TimedatedOptions {
    std::string busAddress;  // a D-Bus address; empty: the system bus
    int timeoutMs = 60000;   // how long polkit may take to ask the user
};

// Asks systemd-timedated to set the clock to `utc` (SetTime: microseconds
// since the epoch, absolute, interactive). Until the answer comes or the
// time-out passes, the thread's event loop runs: windows repaint and buttons
// answer while polkit asks. timedated itself allows for the time the question
// took. Empty on success, else the reason for the log; `errorName` (when
// given) then holds the D-Bus error's name, empty where no call was answered.
std::string SetTimeThroughTimedated(const timespec& utc, const TimedatedOptions& options = {},
                                    std::string* errorName = nullptr);

}  // namespace vel::platform
