// The program's TCP client socket over Windows Sockets.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "platform/win32/win32_event_pump.h"

namespace vel::platform {

// Events arrive through WSAAsyncSelect (FD_CONNECT, FD_READ, FD_CLOSE) on the
// pump's window and reach the handler inside the pump, which is woken after
// each. Every connection attempt has its own message number: the events of a
// closed socket still arrive after closesocket, and the next socket may get
// the same handle, so an event counts only with the number and the handle of
// the attempt in progress.
//
// The host name is looked up on a thread of its own (a numeric address at
// once), so the window never blocks; a lookup that never answers holds
// nothing: its answer is dropped, and the process does not wait for it.
// Failures are Windows Sockets' numbers (SocketErrorOf) with the system's
// texts.
//
// Whether the handshake was retried comes from the system (SIO_TCP_INFO's
// SynRetrans, Windows 10 1703 and later); failing that, from its length
// (kFirstSynRetrySeconds).
class Win32Socket : public Socket, private MessageHandler {
public:
    explicit Win32Socket(Win32EventPump& pump);
    ~Win32Socket() override;
    Win32Socket(const Win32Socket&) = delete;
    Win32Socket& operator=(const Win32Socket&) = delete;

    void Connect(const std::string& host, int port, SocketHandler handler) override;
    std::string GetData(std::size_t maxBytes) override;
    void Close() override;

    // The failure a Windows Sockets number stands for; a number without a
    // name is Other, and kept.
    static SocketError SocketErrorOf(int number, std::string description);

    // How many message numbers tell the attempts apart.
    static constexpr unsigned kAttemptTags = 64;

private:
    struct Lookup;

    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    UINT EventMessage() const { return firstMessage_ + attempt_ % kAttemptTags; }
    void StartLookup();
    void TryNextAddress();
    void SelectEvent(WORD event, WORD error);
    void PostError(int number);
    void Fail(int number);
    void Notify(const SocketEvent& event);
    std::string PeerAddress() const;  // numeric, of the connection made
    void CloseHandle();

    Win32EventPump& pump_;
    SocketHandler handler_;
    std::string host_;
    int port_ = 0;
    bool started_ = false;    // WSAStartup succeeded
    UINT firstMessage_ = 0;   // kAttemptTags event numbers, then these two:
    UINT lookupMessage_ = 0;  // wParam: the attempt whose lookup ended
    UINT errorMessage_ = 0;   // wParam: the attempt; lParam: the error number
    unsigned attempt_ = 0;    // counts every Connect and Close
    SOCKET socket_ = INVALID_SOCKET;
    bool open_ = false;  // between Connect and Close or the first error
    bool gotData_ = false;
    std::shared_ptr<Lookup> lookup_;
    std::vector<sockaddr_storage> addresses_;
    std::vector<int> addressLengths_;
    std::size_t nextAddress_ = 0;
    LARGE_INTEGER handshakeStart_{};  // QueryPerformanceCounter as the handshake began
};

}  // namespace vel::platform
