// HTTPS servers on the far side of the Date seam, in virtual time: each
// answers with the Date of a true time (the PC clock unless a test says
// otherwise), after its round trip.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/https_date.h"
#include "support/virtual_time.h"

namespace vel::test {

// "Mon, 03 Feb 2025 09:07:00 GMT": the Date a server sends for an instant.
std::string HttpDateText(const platform::Instant& t);

class FakeHttpsDate : public platform::HttpsDate {
public:
    struct Server {
        double roundTrip = 0.2;  // seconds from the request to its reply; the server reads its clock halfway
        double dateAhead = 0;    // its Date is this many seconds ahead of the true time (a server that is off)
        platform::HttpsDateReply::Outcome outcome = platform::HttpsDateReply::Outcome::Trusted;
        std::vector<platform::CertificateValidity> chain = {};  // TrustedButForDates
        std::string error = "Connection refused";               // Failed
        bool silent = false;                                    // never replies
        double setUp = 0;         // seconds more for the first request (lookup and handshakes), before the server reads
        int changeFrom = 0;       // from this request on (1: the first; 0: never) ...
        double laterAhead = 0;    // ... its Date is this much further ahead
        bool laterFails = false;  // ... or its requests fail
    };

    FakeHttpsDate(VirtualPump& pump, std::function<platform::Instant()> trueTime, VirtualClock* clock = nullptr)
        : trueTime(std::move(trueTime)), pump_(pump), clock_(clock)
    {}

    void Ask(const std::string& host, int port, platform::HttpsDateHandler handler) override;
    void CancelAll() override;

    std::function<platform::Instant()> trueTime;
    std::map<std::string, Server> servers;  // by host; any other fails as a name that does not exist
    std::vector<std::string> asked;         // "host:port", in order
    std::vector<double> askTimes;           // the monotonic clock at each request
    int cancels = 0;

private:
    VirtualPump& pump_;
    VirtualClock* clock_;
    std::map<std::string, int> requests_;  // by host
    int generation_ = 0;                   // counts CancelAll: a reply of an earlier one is dropped
};

}  // namespace vel::test
