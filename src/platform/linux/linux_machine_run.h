// The machine's run (the system service veltrane-sync.service, which holds
// the right to set the clock) started over the system bus for a user who
// may not set the clock: systemd asks polkit, whose rule lets the members of
// the group veltrane start it without a password. They can have the clock
// set from the machine's own settings and server, and nothing else: no time
// of their choosing, no change to automatic synchronisation or the zone.
#pragma once

#include <string>

namespace vel::platform {

inline constexpr const char* kMachineService = "veltrane-sync.service";

struct MachineRunOptions {
    std::string busAddress;       // a D-Bus address; empty: the system bus
    int timeoutMs = 180000;       // the whole run (it takes two minutes at most)
    int pollMs = 250;             // how often systemd is asked whether the run has ended
    int answerTimeoutMs = 10000;  // each of systemd's answers
};

struct MachineRun {
    // systemd took the start; false where it refused it (nobody asked for a
    // password: polkit said no, the unit is not installed, no systemd).
    bool started = false;
    // The run ended and left the clock right (set, or found correct).
    bool setClock = false;
    std::string refusal;      // the D-Bus error of a refused start
    std::string description;  // for the log: why it was refused, or how the run ended when it did not set
};

// Starts the machine's service (StartUnit, never asking for a password) and
// waits for its end, the event loop running. Its exit status 6 (another time
// service keeps the clock) counts as not set.
MachineRun RunMachineService(const MachineRunOptions& options = {});

}  // namespace vel::platform
