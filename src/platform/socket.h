// A TCP client socket whose outcome arrives as events through the event pump.
#pragma once

#include <cstddef>
#include <string>

namespace vel::platform {

// Why a connection failed, as the numbers the log has always shown (those of
// Windows Sockets), whatever the platform.
namespace SocketError {
enum : int {
    WouldBlock = 10035,
    NetworkDown = 10050,
    NetworkUnreachable = 10051,
    ConnectionReset = 10054,
    TimedOut = 10060,
    ConnectionRefused = 10061,
    HostUnreachable = 10065,
    HostNotFound = 11001,
    TryAgain = 11002,
};
}  // namespace SocketError

class SocketEvents {
public:
    virtual ~SocketEvents() = default;
    // Data has arrived (the byte count is of no interest to the program).
    virtual void OnDataArrival() = 0;
    // The connection failed or broke. `number` is a Windows Sockets number;
    // `description` is the socket component's own text (may be empty).
    virtual void OnError(int number, const std::string& description) = 0;
    // The TCP handshake with an address begins (after any name lookup; once
    // per address tried), and the server's answer to it has come: between
    // the two lies one round trip. These two may come inside Connect(); a
    // handler only notes the time.
    virtual void OnConnecting() = 0;
    virtual void OnConnected() = 0;
};

class Socket {
public:
    virtual ~Socket() = default;

    virtual void SetHandler(SocketEvents* handler) = 0;
    virtual void SetRemoteHost(const std::string& host) = 0;
    virtual void SetRemotePort(int port) = 0;

    // Starts the connection and returns at once; the outcome comes later as
    // OnDataArrival or OnError, delivered inside the event pump. Connecting a
    // socket that is not closed closes it first.
    virtual void Connect() = 0;

    // All data received and not read yet, at most maxBytes of it.
    virtual std::string GetData(std::size_t maxBytes) = 0;

    // Closes the connection; no event follows. Safe to call when closed.
    virtual void Close() = 0;
};

}  // namespace vel::platform
