// A machine run that may set the clock (the system service gives it
// CAP_SYS_TIME, or root starts it) splits in two at its start, before it
// reads a setting or a byte from the network:
// - the part that keeps the right: a child process with CAP_SYS_TIME alone,
//   no_new_privs, not dumpable, deaf to SIGTERM, SIGINT and SIGHUP; it only
//   answers requests on its socket (privileged_clock.h) and ends when the
//   other end closes it, or at once when its parent dies;
// - the network part: this process, the whole program as before, with no
//   capability left and no_new_privs. Its clock asks the other part
//   (ClockPartLink); the exit status and the stop signals stay its own.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/instant.h"

namespace vel::platform {

// Whether this process may set the clock itself: CAP_SYS_TIME is in its
// permitted set.
bool HoldsClockRight();

// Leaves this process no capability: bounding set (where it may change it),
// effective, permitted, inheritable and ambient sets emptied, and
// no_new_privs, so that no program it starts gains any. False with the
// reason in `error` when one step failed.
bool DropEveryCapability(std::string& error);

// Leaves this process CAP_SYS_TIME alone (effective and permitted; the
// bounding set too where it may change it), with no_new_privs and no core
// dump. False with the reason in `error`.
bool KeepOnlyClockRight(std::string& error);

// The network part's end of the split.
class ClockPartLink {
public:
    // Starts the part that keeps the right, then drops every capability of
    // this process. Null, with the reason in `error`, only when this process
    // could not drop them: it must not go on. A part that could not be
    // started leaves a link that answers every request with why.
    static std::unique_ptr<ClockPartLink> Split(std::string& error);

    ~ClockPartLink();
    ClockPartLink(const ClockPartLink&) = delete;
    ClockPartLink& operator=(const ClockPartLink&) = delete;

    // Asks the other part to move the system clock by `step` and waits for
    // its answer (5 seconds at most): ok, or its errno and text.
    ClockSetResult StepSystemClock(const Span& step);

    // Closes the socket and waits for the other part's end (1 second, then
    // SIGKILL).
    void Close();

    pid_t Pid() const { return pid_; }

    // Over a socket `fd` (this end; the link closes it) to the part `pid`
    // (0: none to wait for, as in tests); or, with `failure`, no part: why.
    ClockPartLink(int fd, pid_t pid, std::string failure = {}) : fd_(fd), pid_(pid), failure_(std::move(failure)) {}

private:
    int fd_ = -1;
    pid_t pid_ = 0;
    std::string failure_;  // why no part could be started
};

}  // namespace vel::platform
