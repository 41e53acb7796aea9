#include "platform/win32/win32_datagram_socket.h"

#include <cstring>
#include <mutex>
#include <thread>

#include "platform/win32/win32_socket.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

struct Win32DatagramSocket::Lookup {
    std::mutex mutex;
    int error = 0;
    std::vector<sockaddr_storage> addresses;
    std::vector<int> lengths;
};

namespace {

addrinfo DatagramHints(int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = flags;
    return hints;
}

void CopyAddresses(const addrinfo* list, std::vector<sockaddr_storage>& addresses, std::vector<int>& lengths)
{
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        addresses.push_back(address);
        lengths.push_back(static_cast<int>(entry->ai_addrlen));
    }
}

// The peer's "port unreachable", whichever way the system reports it.
bool IsRefusal(int number)
{
    return number == WSAECONNRESET || number == WSAECONNREFUSED;
}

}  // namespace

Win32DatagramSocket::Win32DatagramSocket(Win32EventPump& pump) : pump_(pump)
{
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    firstMessage_ = pump_.AllocateMessages(kOpenTags + 3);
    lookupMessage_ = firstMessage_ + kOpenTags;
    errorMessage_ = lookupMessage_ + 1;
    readyMessage_ = errorMessage_ + 1;
    pump_.AddHandler(this);
}

Win32DatagramSocket::~Win32DatagramSocket()
{
    Close();
    pump_.RemoveHandler(this);
    if (started_)
        ::WSACleanup();
}

void Win32DatagramSocket::Open(const std::string& host, int port, DatagramHandler handler)
{
    Close();
    host_ = host;
    port_ = port;
    handler_ = std::move(handler);
    isOpen_ = true;
    if (!started_) {
        PostError(WSASYSNOTREADY);
        return;
    }
    // A numeric address needs no lookup; the outcome still comes from the pump.
    const std::string service = std::to_string(port_);
    const addrinfo numeric = DatagramHints(AI_NUMERICHOST);
    addrinfo* list = nullptr;
    if (!host_.empty() && ::getaddrinfo(host_.c_str(), service.c_str(), &numeric, &list) == 0) {
        std::vector<sockaddr_storage> addresses;
        std::vector<int> lengths;
        CopyAddresses(list, addresses, lengths);
        ::freeaddrinfo(list);
        Bind(addresses, lengths);
        return;
    }
    lookup_ = std::make_shared<Lookup>();
    const HWND window = pump_.Window();
    const UINT message = lookupMessage_;
    const WPARAM open = open_;
    try {
        std::thread([lookup = lookup_, host = host_, service, window, message, open] {
            const addrinfo hints = DatagramHints(0);
            addrinfo* found = nullptr;
            const int error =
                host.empty() ? WSAHOST_NOT_FOUND : ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            {
                std::lock_guard<std::mutex> lock(lookup->mutex);
                lookup->error = error;
                if (error == 0)
                    CopyAddresses(found, lookup->addresses, lookup->lengths);
            }
            if (found != nullptr)
                ::freeaddrinfo(found);
            ::PostMessageW(window, message, open, 0);
        }).detach();
    } catch (...) {
        lookup_.reset();
        PostError(WSAENOBUFS);
    }
}

// The first address this system has a way to: a UDP connect sends nothing.
void Win32DatagramSocket::Bind(const std::vector<sockaddr_storage>& addresses, const std::vector<int>& lengths)
{
    int lastError = WSAHOST_NOT_FOUND;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        CloseHandle();
        socket_ = ::socket(addresses[i].ss_family, SOCK_DGRAM, IPPROTO_UDP);
        if (socket_ == INVALID_SOCKET) {
            lastError = ::WSAGetLastError();
            continue;
        }
        // Also makes the socket non-blocking.
        if (::WSAAsyncSelect(socket_, pump_.Window(), EventMessage(), FD_READ) != 0 ||
            ::connect(socket_, reinterpret_cast<const sockaddr*>(&addresses[i]), lengths[i]) != 0) {
            lastError = ::WSAGetLastError();
            continue;
        }
        ::PostMessageW(pump_.Window(), readyMessage_, open_, 0);
        return;
    }
    CloseHandle();
    PostError(lastError);
}

void Win32DatagramSocket::PostError(int number)
{
    ::PostMessageW(pump_.Window(), errorMessage_, open_, number);
}

bool Win32DatagramSocket::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= firstMessage_ && message < firstMessage_ + kOpenTags) {
        if (isOpen_ && message == EventMessage() && socket_ != INVALID_SOCKET && static_cast<SOCKET>(wParam) == socket_)
            Readable(WSAGETSELECTERROR(lParam));
        return true;
    }
    const bool current = isOpen_ && wParam == static_cast<WPARAM>(open_);
    if (message == lookupMessage_) {
        if (!current || !lookup_)
            return true;
        const std::shared_ptr<Lookup> lookup = std::move(lookup_);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        if (lookup->error != 0)
            PostError(lookup->error);
        else
            Bind(lookup->addresses, lookup->lengths);
        return true;
    }
    if (message == errorMessage_) {
        if (current)
            Fail(static_cast<int>(lParam));
        return true;
    }
    if (message == readyMessage_) {
        if (current) {
            Notify({DatagramEvent::Kind::Ready, {}});
            pump_.Wake();
        }
        return true;
    }
    return false;
}

void Win32DatagramSocket::Readable(WORD error)
{
    if (error != 0) {
        Fail(error);
        return;
    }
    char probe = 0;
    const int got = ::recv(socket_, &probe, 1, MSG_PEEK);
    const int number = got < 0 ? ::WSAGetLastError() : 0;
    if (got >= 0 || number == WSAEMSGSIZE) {
        Notify({DatagramEvent::Kind::Arrived, {}});
        pump_.Wake();
        return;
    }
    if (number != WSAEWOULDBLOCK)
        Fail(number);
}

void Win32DatagramSocket::Fail(int number)
{
    isOpen_ = false;
    CloseHandle();
    // Windows says "reset" where the peer's port was unreachable.
    if (IsRefusal(number))
        number = WSAECONNREFUSED;
    Notify({DatagramEvent::Kind::Failed,
            Win32Socket::SocketErrorOf(number, SystemErrorText(static_cast<std::uint32_t>(number)))});
    pump_.Wake();
}

bool Win32DatagramSocket::Send(const std::string& bytes, SocketError& error)
{
    if (socket_ == INVALID_SOCKET) {
        error = {SocketFailure::NotSupported, "the socket is not open", 0};
        return false;
    }
    if (::send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size()))
        return true;
    int number = ::WSAGetLastError();
    if (IsRefusal(number))
        number = WSAECONNREFUSED;
    error = Win32Socket::SocketErrorOf(number, SystemErrorText(static_cast<std::uint32_t>(number)));
    return false;
}

std::optional<std::string> Win32DatagramSocket::Receive(std::size_t maxBytes)
{
    if (socket_ == INVALID_SOCKET)
        return std::nullopt;
    std::string buffer(maxBytes > 0 ? maxBytes : 1, '\0');
    const int got = ::recv(socket_, buffer.data(), static_cast<int>(maxBytes), 0);
    if (got >= 0) {
        buffer.resize(static_cast<std::size_t>(got));
        return buffer;
    }
    // A longer datagram fills the buffer; the rest of it is lost.
    if (::WSAGetLastError() == WSAEMSGSIZE) {
        buffer.resize(maxBytes);
        return buffer;
    }
    return std::nullopt;
}

void Win32DatagramSocket::Notify(const DatagramEvent& event)
{
    const DatagramHandler handler = handler_;
    if (handler)
        handler(event);
}

void Win32DatagramSocket::CloseHandle()
{
    if (socket_ != INVALID_SOCKET) {
        ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

void Win32DatagramSocket::Close()
{
    isOpen_ = false;
    handler_ = nullptr;
    lookup_.reset();
    CloseHandle();
    ++open_;
}

}  // namespace vel::platform
