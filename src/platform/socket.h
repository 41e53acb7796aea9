// A TCP client socket whose outcome arrives as events through the event pump.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vel::platform {

// Why a connection failed.
enum class SocketFailure {
    Refused,
    TimedOut,
    Reset,  // broken by the peer, or closed without a word
    HostNotFound,
    TryAgain,  // the name server did not answer
    NetworkDown,
    NetworkUnreachable,
    HostUnreachable,
    AccessDenied,
    AddressInUse,
    AddressNotAvailable,
    AddressFamilyNotSupported,
    NoBuffers,
    MessageTooLong,
    NotSupported,
    Other,  // one the back end has no name for: `systemNumber` says which
};

struct SocketError {
    SocketFailure failure = SocketFailure::Other;
    std::string description;  // the system's own text (may be empty)
    int systemNumber{};       // Other only: the system's own number for it
};

// What a connection tells its handler, inside the event pump.
struct SocketEvent {
    enum class Kind {
        // The TCP handshake with an address begins (after any name lookup;
        // once per address tried), and the server's answer to it has come:
        // between the two lies one round trip. These two may come inside
        // Connect(); a handler only notes the time.
        Connecting,
        Connected,
        // Data has arrived (the byte count is of no interest to the program).
        DataArrived,
        // The connection failed or broke: `error` says why.
        Failed,
    };
    Kind kind = Kind::Failed;
    SocketError error;  // Failed only
    // Connected only: a packet of the handshake was lost and sent again (our
    // SYN, or the server's answer to it), so Connecting and Connected hold
    // the system's wait for the retry: no round trip of the path lies
    // between them. A busy server whose queue is full drops SYNs.
    bool handshakeRetried = false;
    // Connected only: the numeric address reached ("192.0.2.7",
    // "2001:db8::7"); empty when the back end cannot say.
    std::string address = {};
};

// No system sends a SYN again sooner than this after the first (1 second is
// the initial retransmission time-out of RFC 6298 and Linux; older Windows
// wait 3). A back end that cannot ask the system whether it sent one again
// takes a handshake that lasted this long as retried.
inline constexpr double kFirstSynRetrySeconds = 1.0;

// May close the socket, or connect it again, from inside.
using SocketHandler = std::function<void(const SocketEvent&)>;

class Socket {
public:
    virtual ~Socket() = default;

    // Starts a connection to the host (a name or an address) and returns at
    // once; the outcome comes later to `handler` as DataArrived or Failed,
    // delivered inside the event pump. Connecting a socket that is not closed
    // closes it first.
    virtual void Connect(const std::string& host, int port, SocketHandler handler) = 0;

    // All data received and not read yet, at most maxBytes of it.
    virtual std::string GetData(std::size_t maxBytes) = 0;

    // Closes the connection and forgets the handler; no event follows. Safe
    // to call when closed.
    virtual void Close() = 0;
};

}  // namespace vel::platform
