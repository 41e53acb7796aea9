// The Date an HTTPS server gives its answers: a clock that TLS vouches for.
// The program asks a few large web servers for it when a time server's
// answer would move the clock by much, to see whether that answer is true.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/instant.h"

namespace vel::platform {

// How long one certificate of a server's chain is valid (UTC).
struct CertificateValidity {
    Instant notBefore;
    Instant notAfter;
};

// What came back from one server.
struct HttpsDateReply {
    enum class Outcome {
        // A response over TLS whose certificate chain the system trusts, for
        // this host name.
        Trusted,
        // The same, except that the PC clock lies outside the validity of a
        // certificate of the chain (expired or not yet valid, by the PC
        // clock). `chain` holds every certificate's validity: the program
        // decides whether the server's own Date explains it.
        TrustedButForDates,
        // No usable response: `error` says why. Every other certificate
        // fault (an unknown issuer, another name, a revoked certificate, a
        // broken chain) ends here, as do a refusal, a time-out and a
        // response without a Date.
        Failed,
    };
    Outcome outcome = Outcome::Failed;
    std::string date;                        // the Date header as sent, when Trusted or TrustedButForDates
    std::vector<CertificateValidity> chain;  // TrustedButForDates: the server's certificate first
    std::string error;                       // Failed: the system's reason, a sentence for the log
};

using HttpsDateHandler = std::function<void(const HttpsDateReply&)>;

class HttpsDate {
public:
    virtual ~HttpsDate() = default;

    // Sends "HEAD /" to https://host:port/ with the system's trust store and
    // proxy settings, following no redirection, and returns at once. The
    // reply comes to `handler` once, inside the event pump, as soon as the
    // response's headers have come (or it failed). Several requests may be
    // under way at a time.
    virtual void Ask(const std::string& host, int port, HttpsDateHandler handler) = 0;

    // Ends every request under way: no reply comes for any of them.
    virtual void CancelAll() = 0;
};

}  // namespace vel::platform
