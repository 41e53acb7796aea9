// The program's UDP socket over Windows Sockets.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/datagram_socket.h"
#include "platform/win32/win32_event_pump.h"

namespace vel::platform {

// Connected to the peer, so the system drops datagrams from anyone else and
// hands the peer's "port unreachable" back to the next read (WSAECONNRESET
// on Windows, WSAECONNREFUSED under Wine): both are Refused, 10061. Events
// arrive through WSAAsyncSelect (FD_READ) on the pump's window, each open
// with its own message number (the events of a closed socket still come);
// the name is looked up on a thread of its own, as the TCP socket does.
class Win32DatagramSocket : public DatagramSocket, private MessageHandler {
public:
    explicit Win32DatagramSocket(Win32EventPump& pump);
    ~Win32DatagramSocket() override;
    Win32DatagramSocket(const Win32DatagramSocket&) = delete;
    Win32DatagramSocket& operator=(const Win32DatagramSocket&) = delete;

    void Open(const std::string& host, int port, DatagramHandler handler) override;
    bool Send(const std::string& bytes, SocketError& error) override;
    std::optional<std::string> Receive(std::size_t maxBytes) override;
    void Close() override;

    static constexpr unsigned kOpenTags = 16;

private:
    struct Lookup;

    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    UINT EventMessage() const { return firstMessage_ + open_ % kOpenTags; }
    void Bind(const std::vector<sockaddr_storage>& addresses, const std::vector<int>& lengths);
    void Readable(WORD error);
    void Fail(int number);
    void PostError(int number);
    void Notify(const DatagramEvent& event);
    void CloseHandle();

    Win32EventPump& pump_;
    DatagramHandler handler_;
    std::string host_;
    int port_ = 0;
    bool started_ = false;
    bool isOpen_ = false;
    UINT firstMessage_ = 0;   // kOpenTags event numbers, then these three:
    UINT lookupMessage_ = 0;  // wParam: the open whose lookup ended
    UINT errorMessage_ = 0;   // wParam: the open; lParam: the error number
    UINT readyMessage_ = 0;   // wParam: the open
    unsigned open_ = 0;       // counts every Open and Close
    SOCKET socket_ = INVALID_SOCKET;
    std::shared_ptr<Lookup> lookup_;
};

}  // namespace vel::platform
