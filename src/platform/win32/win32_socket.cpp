#include "platform/win32/win32_socket.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/win32/win32_text.h"

namespace vel::platform {

// What the lookup thread hands back. The thread holds it as long as it runs;
// the socket drops it at the next Connect or Close.
struct Win32Socket::Lookup {
    std::mutex mutex;
    int error = 0;
    std::vector<sockaddr_storage> addresses;
    std::vector<int> lengths;
};

namespace {

// The addresses of a getaddrinfo answer, in its order.
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

// SIO_TCP_INFO and its TCP_INFO_v0 of <mstcpip.h> (Windows 10 1703 and
// later), which the headers declare only to a build that requires that
// version.
constexpr DWORD kTcpInfoControl = _WSAIORW(IOC_VENDOR, 39);
struct TcpInfoV0 {
    int state;
    ULONG mss;
    ULONG64 connectionTimeMs;
    BOOLEAN timestampsEnabled;
    ULONG rttUs;
    ULONG minRttUs;
    ULONG bytesInFlight;
    ULONG cwnd;
    ULONG sndWnd;
    ULONG rcvWnd;
    ULONG rcvBuf;
    ULONG64 bytesOut;
    ULONG64 bytesIn;
    ULONG bytesReordered;
    ULONG bytesRetrans;
    ULONG fastRetrans;
    ULONG dupAcksIn;
    ULONG timeoutEpisodes;
    UCHAR synRetrans;
};

double SecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now{}, frequency{};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart > 0 ? static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart : 0.0;
}

// Whether the system sent a SYN of the socket's handshake again; empty where
// it cannot say (before Windows 10 1703, and under Wine).
std::optional<bool> SynRetransmitted(SOCKET socket)
{
    DWORD version = 0;
    TcpInfoV0 info{};
    DWORD size = 0;
    const int failed =
        ::WSAIoctl(socket, kTcpInfoControl, &version, sizeof version, &info, sizeof info, &size, nullptr, nullptr);
    if (failed != 0 || size < offsetof(TcpInfoV0, synRetrans) + sizeof info.synRetrans)
        return std::nullopt;
    return info.synRetrans > 0;
}

addrinfo StreamHints(int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

}  // namespace

Win32Socket::Win32Socket(Win32EventPump& pump) : pump_(pump)
{
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    firstMessage_ = pump_.AllocateMessages(kAttemptTags + 2);
    lookupMessage_ = firstMessage_ + kAttemptTags;
    errorMessage_ = lookupMessage_ + 1;
    pump_.AddHandler(this);
}

Win32Socket::~Win32Socket()
{
    Close();
    pump_.RemoveHandler(this);
    if (started_)
        ::WSACleanup();
}

SocketError Win32Socket::SocketErrorOf(int number, std::string description)
{
    static constexpr struct {
        int number;
        SocketFailure failure;
    } kNamed[] = {
        {WSAECONNREFUSED, SocketFailure::Refused},
        {WSAETIMEDOUT, SocketFailure::TimedOut},
        {WSAECONNRESET, SocketFailure::Reset},
        {WSAHOST_NOT_FOUND, SocketFailure::HostNotFound},
        {WSATRY_AGAIN, SocketFailure::TryAgain},
        {WSAENETDOWN, SocketFailure::NetworkDown},
        {WSAENETUNREACH, SocketFailure::NetworkUnreachable},
        {WSAEHOSTUNREACH, SocketFailure::HostUnreachable},
        {WSAEACCES, SocketFailure::AccessDenied},
        {WSAEADDRINUSE, SocketFailure::AddressInUse},
        {WSAEADDRNOTAVAIL, SocketFailure::AddressNotAvailable},
        {WSAEAFNOSUPPORT, SocketFailure::AddressFamilyNotSupported},
        {WSAENOBUFS, SocketFailure::NoBuffers},
        {WSAEMSGSIZE, SocketFailure::MessageTooLong},
        {WSAEOPNOTSUPP, SocketFailure::NotSupported},
    };
    for (const auto& named : kNamed)
        if (named.number == number)
            return {named.failure, std::move(description), 0};
    return {SocketFailure::Other, std::move(description), number};
}

void Win32Socket::Connect(const std::string& host, int port, SocketHandler handler)
{
    Close();
    host_ = host;
    port_ = port;
    handler_ = std::move(handler);
    open_ = true;
    gotData_ = false;
    addresses_.clear();
    addressLengths_.clear();
    nextAddress_ = 0;
    if (!started_) {
        PostError(WSASYSNOTREADY);
        return;
    }

    // A numeric address needs no lookup.
    const std::string service = std::to_string(port_);
    const addrinfo hints = StreamHints(AI_NUMERICHOST);
    addrinfo* list = nullptr;
    if (!host_.empty() && ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &list) == 0) {
        CopyAddresses(list, addresses_, addressLengths_);
        ::freeaddrinfo(list);
        TryNextAddress();
        return;
    }
    StartLookup();
}

void Win32Socket::StartLookup()
{
    lookup_ = std::make_shared<Lookup>();
    const HWND window = pump_.Window();
    const UINT message = lookupMessage_;
    const WPARAM attempt = attempt_;
    try {
        std::thread([lookup = lookup_, host = host_, port = std::to_string(port_), window, message, attempt] {
            const addrinfo hints = StreamHints(0);
            addrinfo* list = nullptr;
            const int error =
                host.empty() ? WSAHOST_NOT_FOUND : ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
            {
                std::lock_guard<std::mutex> lock(lookup->mutex);
                lookup->error = error;
                if (error == 0)
                    CopyAddresses(list, lookup->addresses, lookup->lengths);
            }
            if (list != nullptr)
                ::freeaddrinfo(list);
            ::PostMessageW(window, message, attempt, 0);
        }).detach();
    } catch (...) {
        lookup_.reset();
        PostError(WSAENOBUFS);
    }
}

void Win32Socket::TryNextAddress()
{
    int lastError = WSAHOST_NOT_FOUND;
    while (nextAddress_ < addresses_.size()) {
        const sockaddr_storage& address = addresses_[nextAddress_];
        const int length = addressLengths_[nextAddress_];
        ++nextAddress_;
        CloseHandle();
        socket_ = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (socket_ == INVALID_SOCKET) {
            lastError = ::WSAGetLastError();
            continue;
        }
        // Also makes the socket non-blocking.
        if (::WSAAsyncSelect(socket_, pump_.Window(), EventMessage(), FD_CONNECT | FD_READ | FD_CLOSE) != 0) {
            lastError = ::WSAGetLastError();
            continue;
        }
        // The handshake's round trip is timed from here to FD_CONNECT.
        ::QueryPerformanceCounter(&handshakeStart_);
        Notify({SocketEvent::Kind::Connecting, {}});
        if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), length) == 0)
            return;  // FD_CONNECT follows
        lastError = ::WSAGetLastError();
        if (lastError == WSAEWOULDBLOCK)
            return;  // the outcome comes as FD_CONNECT
    }
    CloseHandle();
    PostError(lastError);
}

void Win32Socket::PostError(int number)
{
    // Never inside Connect: the outcome comes through the pump.
    ::PostMessageW(pump_.Window(), errorMessage_, attempt_, number);
}

bool Win32Socket::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= firstMessage_ && message < firstMessage_ + kAttemptTags) {
        // Events of an earlier attempt, or of a socket closed since, are dropped.
        if (open_ && message == EventMessage() && socket_ != INVALID_SOCKET && static_cast<SOCKET>(wParam) == socket_)
            SelectEvent(WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
        return true;
    }
    if (message == lookupMessage_) {
        if (!open_ || wParam != static_cast<WPARAM>(attempt_) || !lookup_)
            return true;
        const std::shared_ptr<Lookup> lookup = std::move(lookup_);
        int error = 0;
        {
            std::lock_guard<std::mutex> lock(lookup->mutex);
            error = lookup->error;
            addresses_ = lookup->addresses;
            addressLengths_ = lookup->lengths;
        }
        if (error != 0)
            Fail(error);
        else
            TryNextAddress();
        return true;
    }
    if (message == errorMessage_) {
        if (open_ && wParam == static_cast<WPARAM>(attempt_))
            Fail(static_cast<int>(lParam));
        return true;
    }
    return false;
}

void Win32Socket::SelectEvent(WORD event, WORD error)
{
    switch (event) {
        case FD_CONNECT:
            if (error == 0) {
                SocketEvent connected{SocketEvent::Kind::Connected, {}};
                connected.handshakeRetried =
                    SynRetransmitted(socket_).value_or(SecondsSince(handshakeStart_) >= kFirstSynRetrySeconds);
                connected.address = PeerAddress();
                Notify(connected);
                return;
            }
            // The next address of the name, where there is one.
            if (nextAddress_ < addresses_.size()) {
                TryNextAddress();
                return;
            }
            Fail(error);
            return;
        case FD_READ:
        case FD_CLOSE: {
            if (error != 0) {
                Fail(error);
                return;
            }
            u_long available = 0;
            ::ioctlsocket(socket_, FIONREAD, &available);
            if (available > 0) {
                gotData_ = true;
                Notify({SocketEvent::Kind::DataArrived, {}});
                pump_.Wake();
                return;
            }
            // A server that closes without a word: the connection is over.
            if (event == FD_CLOSE && !gotData_)
                Fail(WSAECONNRESET);
            return;
        }
        default:
            return;
    }
}

std::string Win32Socket::PeerAddress() const
{
    // The address tried last is the one connected.
    if (nextAddress_ == 0 || nextAddress_ > addresses_.size())
        return {};
    char text[NI_MAXHOST];
    const sockaddr_storage& address = addresses_[nextAddress_ - 1];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), addressLengths_[nextAddress_ - 1], text, sizeof text,
                      nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return text;
}

void Win32Socket::Fail(int number)
{
    // The attempt is over: no second event reaches the handler.
    open_ = false;
    Notify({SocketEvent::Kind::Failed, SocketErrorOf(number, SystemErrorText(static_cast<std::uint32_t>(number)))});
    pump_.Wake();
}

void Win32Socket::Notify(const SocketEvent& event)
{
    // A copy: the handler may close the socket, which forgets handler_.
    const SocketHandler handler = handler_;
    if (handler)
        handler(event);
}

std::string Win32Socket::GetData(std::size_t maxBytes)
{
    std::string data;
    if (socket_ == INVALID_SOCKET)
        return data;
    char buffer[4096];
    while (data.size() < maxBytes) {
        const std::size_t want = std::min(sizeof buffer, maxBytes - data.size());
        const int got = ::recv(socket_, buffer, static_cast<int>(want), 0);
        if (got <= 0)
            break;  // nothing more now (WSAEWOULDBLOCK), closed, or failed
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
}

void Win32Socket::CloseHandle()
{
    if (socket_ != INVALID_SOCKET) {
        ::closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
}

void Win32Socket::Close()
{
    open_ = false;
    handler_ = nullptr;
    lookup_.reset();
    CloseHandle();
    // Whatever the closed attempt still sends carries the old number.
    ++attempt_;
}

}  // namespace vel::platform
