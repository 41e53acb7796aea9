// A Daytime server on the far side of FakeSocket that tells the true time of
// a virtual world: the PC clock's instant less how far the PC is ahead.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/instant.h"
#include "support/fakes.h"
#include "support/virtual_time.h"

namespace vel::test {

class DaytimePeer {
public:
    enum class Layout {
        NistOnTime,  // NIST: sent msADV before the second it names begins
        NistLike,    // the NIST layout without label and marker, sent at once
        Short,       // "Www Mmm dd hh:mm:ss yyyy\r\n", at once
        Xinetd,      // "DD MMM YYYY hh:mm:ss UTC\r\n", at once
    };

    // Answers every connect of `socket`.
    DaytimePeer(VirtualClock& clock, VirtualPump& pump, FakeSocket& socket);

    Layout layout = Layout::NistOnTime;
    // One-way delays in seconds. A connect's handshake answer comes back after
    // outbound + transit; the server takes the connection (and reads its
    // clock) once the handshake's last packet has come, another outbound
    // later, and its line arrives transit after its sending.
    double transit = 0;   // server to PC
    double outbound = 0;  // PC to server
    double advance = 0;   // msADV, in seconds
    int health = 0;       // H of the NIST line
    int refuseFrom = 0;   // connections from this one on are refused (10061); 0: none
    int silentFrom = 0;   // connections from this one on get no answer; 0: none
    // Connection number: how many of its SYNs are lost (a server whose queue
    // is full drops them); the PC's system sends one again 1, 3, 7... seconds
    // after the first.
    std::map<int, int> synsLost;
    std::map<int, double> slowWayOut;  // connection number: seconds more on its way to the server
    int lieFrom = 0;                   // connections from this one on name a time lieBy seconds off; 0: none
    double lieBy = 0;

    // The PC clock is `seconds` ahead of the true time now (0 at the start).
    // The true time then runs on with monotonic time, whatever is done to the
    // PC clock.
    void PcAheadBy(double seconds);

    // The true time now.
    platform::Instant TrueTime() const;
    // The line the server sends for the second that begins at `second`.
    std::string Line(const platform::Instant& second) const;

    std::vector<double> connectTimes;  // monotonic seconds of each connect

private:
    VirtualClock& clock_;
    VirtualPump& pump_;
    platform::Instant trueAtZero_;  // the true time at monotonic 0
};

}  // namespace vel::test
