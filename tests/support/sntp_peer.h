// An NTP server on the far side of FakeDatagramSocket that tells the true
// time of a virtual world (the PC clock's instant less how far the PC is
// ahead), and misbehaves as a test asks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/instant.h"
#include "support/fakes.h"
#include "support/virtual_time.h"

namespace vel::test {

class SntpPeer {
public:
    // How one answer goes wrong, or not.
    enum class Kind {
        Normal,
        Silent,     // no answer
        Spoofed,    // the origin is not the request's transmit time
        Kiss,       // stratum 0 with `kissCode`
        Short,      // 47 bytes
        Long,       // 49 bytes
        TwoCopies,  // the same answer twice
    };
    struct Answer {
        Kind kind = Kind::Normal;
        int leap = 0;
        int version = 4;
        int mode = 4;
        int stratum = 1;
        std::string kissCode = "RATE";
        double outbound = -1;  // the request's way there for this answer; negative: the peer's
    };

    // Answers every datagram sent on `socket`.
    SntpPeer(VirtualClock& clock, VirtualPump& pump, FakeDatagramSocket& socket);

    // One-way delays and the server's time in hand, in seconds.
    double outbound = 0;                          // PC to server
    double transit = 0;                           // server to PC
    double processing = 0;                        // between the request's arrival and the answer's sending
    Answer answer;                                // every answer, unless answerOf says otherwise
    std::function<Answer(int request)> answerOf;  // request counts from 1
    bool refuse = false;                          // the system refuses instead (10061)

    // The PC clock is `seconds` ahead of the true time now.
    void PcAheadBy(double seconds);
    platform::Instant TrueTime() const;

    std::vector<double> requestTimes;  // monotonic seconds of each request sent

private:
    std::string Reply(const std::string& request, const Answer& answer) const;

    VirtualClock& clock_;
    VirtualPump& pump_;
    platform::Instant trueAtZero_;
    platform::Instant received_;  // the true time the request being answered came
};

}  // namespace vel::test
