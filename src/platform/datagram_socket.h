// A UDP client socket: one peer, datagrams both ways, its outcome as events
// through the event pump.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/socket.h"

namespace vel::platform {

// What an open datagram socket tells its handler, inside the event pump.
struct DatagramEvent {
    enum class Kind {
        // The host was looked up and the socket is bound to one of its
        // addresses: Send may begin.
        Ready,
        // A datagram has come from the peer: Receive takes it.
        Arrived,
        // The lookup failed, or the peer's system said no (an ICMP "port
        // unreachable" is Refused): `error` says why. Nothing follows.
        Failed,
    };
    Kind kind = Kind::Failed;
    SocketError error;  // Failed only
};

// May close the socket from inside.
using DatagramHandler = std::function<void(const DatagramEvent&)>;

class DatagramSocket {
public:
    virtual ~DatagramSocket() = default;

    // Looks the host (a name or an address) up and binds the socket to the
    // first of its addresses this system can send to, at `port`; returns at
    // once. Ready or Failed follows, delivered inside the event pump, even
    // when the outcome is known at once. Opening a socket that is open closes
    // it first.
    virtual void Open(const std::string& host, int port, DatagramHandler handler) = 0;

    // Sends one datagram to the peer (after Ready). False with `error` when
    // the system refused it at once.
    virtual bool Send(const std::string& bytes, SocketError& error) = 0;

    // The next datagram that has come from the peer, at most maxBytes of it
    // (the rest of a longer one is lost); none when nothing is waiting.
    virtual std::optional<std::string> Receive(std::size_t maxBytes) = 0;

    // Forgets the handler and closes; no event follows. Safe when closed.
    virtual void Close() = 0;
};

}  // namespace vel::platform
