// The login session of this process as logind sees it: what polkit weighs
// when it decides whether a user may do something without a password.
#pragma once

#include <string>

namespace vel::platform {

enum class SessionKind {
    ActiveLocal,  // at this machine's own seat, and the user's session there is in front
    Inactive,     // at the seat, but none of the user's sessions is in front
    Remote,       // a remote log-in (SSH)
    None,         // no session at all (a timer's run, cron)
    Unknown,      // logind could not be asked, or did not answer
};

struct SessionOptions {
    std::string busAddress;  // a D-Bus address; empty: the system bus
    int timeoutMs = 5000;    // each answer
};

// polkit counts a user as active where any of their sessions is the one in
// front, and as local where the asking process's session has a seat.
SessionKind SessionOfThisProcess(const SessionOptions& options = {});

}  // namespace vel::platform
