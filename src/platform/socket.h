// A TCP client socket whose outcome arrives as events through the event pump.
#pragma once

#include <cstddef>
#include <string>

namespace vel::platform {

// Windows Sockets error numbers, which the program reports whatever the platform.
enum : int {
    WSAEWOULDBLOCK = 10035,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAECONNRESET = 10054,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAEHOSTUNREACH = 10065,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
};

class SocketEvents {
public:
    virtual ~SocketEvents() = default;
    // Data has arrived (the byte count is of no interest to the program).
    virtual void OnDataArrival() = 0;
    // The connection failed or broke. `number` is a Windows Sockets number;
    // `description` is the socket component's own text (may be empty).
    virtual void OnError(int number, const std::string& description) = 0;
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
