#include "platform/qt/qt_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QNetworkInterface>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace vel::platform {

namespace {

// QTcpSocket keeps no more than this unread; a flood waits in the kernel
// until we close.
constexpr qint64 kReadBufferBytes = 64 * 1024;

}  // namespace

QtSocket::QtSocket(EventPump& pump) : pump_(pump)
{
    socket_.setReadBufferSize(kReadBufferBytes);
    connect(&socket_, &QTcpSocket::readyRead, this, &QtSocket::DataArrived);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &QtSocket::ErrorOccurred);
}

QtSocket::~QtSocket()
{
    Close();
}

void QtSocket::Connect(const std::string& host, int port, SocketHandler handler)
{
    Close();
    host_ = QString::fromStdString(host);
    port_ = static_cast<quint16>(port);
    handler_ = std::move(handler);
    gotData_ = false;
    open_ = true;
    // Even a failure that is known at once arrives as an event, from the pump.
    const unsigned generation = ++generation_;
    QMetaObject::invokeMethod(
        this, [this, generation] { Start(generation); }, Qt::QueuedConnection);
}

void QtSocket::Start(unsigned generation)
{
    if (!open_ || generation != generation_)
        return;
    // An address needs no lookup (QHostInfo would look its name up instead).
    QHostAddress literal;
    if (literal.setAddress(host_)) {
        addresses_ = {literal};
        TryNextAddress();
        return;
    }
    lookupId_ = QHostInfo::lookupHost(host_, this, &QtSocket::LookedUp);
}

void QtSocket::LookedUp(const QHostInfo& info)
{
    if (!open_ || info.lookupId() != lookupId_)
        return;
    lookupId_ = -1;
    if (info.error() == QHostInfo::NoError && !info.addresses().isEmpty()) {
        addresses_ = info.addresses();
        TryNextAddress();
        return;
    }
    const QString text = info.error() == QHostInfo::NoError ? QStringLiteral("Host not found") : info.errorString();
    // Not found, or no answer from the name server (try again later).
    Report(info.error() == QHostInfo::UnknownError ? SocketFailure::TryAgain : SocketFailure::HostNotFound,
           text.toStdString());
}

// One connection per address, in the order the lookup gave them; the first
// that connects is read, and only when every one failed is the last failure
// reported.
void QtSocket::TryNextAddress()
{
    while (!addresses_.isEmpty()) {
        const QHostAddress address = addresses_.takeFirst();
        sockaddr_storage peer{};
        const socklen_t length = SystemAddressOf(address, port_, peer);
        if (length == 0) {
            lastError_ = EAFNOSUPPORT;
            continue;
        }
        const int descriptor = ::socket(peer.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor < 0) {
            lastError_ = errno;
            continue;
        }
        // The handshake's round trip is timed from here to Connected.
        handshakeTimer_.start();
        Notify({SocketEvent::Kind::Connecting, {}});
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&peer), length) == 0) {
            Connected(descriptor);
            return;
        }
        if (errno == EINPROGRESS) {
            // Writable once the connect has succeeded or failed.
            connecting_ = descriptor;
            writable_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
            connect(writable_.get(), &QSocketNotifier::activated, this, &QtSocket::ConnectFinished);
            return;
        }
        lastError_ = errno;
        ::close(descriptor);
    }
    Report(FailureOfErrno(lastError_), ConnectErrorText(lastError_));
}

void QtSocket::ConnectFinished()
{
    if (!writable_ || sender() != writable_.get())
        return;  // a notifier of an earlier connect
    const int descriptor = connecting_;
    // This runs inside the notifier's own signal: it goes when the signal is done.
    writable_->setEnabled(false);
    writable_.release()->deleteLater();
    connecting_ = -1;
    if (descriptor < 0 || !open_)
        return;
    // The outcome of the connect, read once; connect() is not called again.
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error == 0) {
        Connected(descriptor);
        return;
    }
    lastError_ = error;
    ::close(descriptor);
    TryNextAddress();
}

bool QtSocket::HandshakeRetried(int descriptor) const
{
    // Right after the connect, every retransmission counted is one of the
    // handshake. (tcpi_rtt is then no sample of the path: after a retry the
    // kernel puts a stand-in of 1 s there.)
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
        size >= offsetof(tcp_info, tcpi_total_retrans) + sizeof info.tcpi_total_retrans)
        return info.tcpi_total_retrans > 0;
    return handshakeTimer_.nsecsElapsed() >= static_cast<qint64>(kFirstSynRetrySeconds * 1e9);
}

void QtSocket::Connected(int descriptor)
{
    addresses_.clear();
    SocketEvent event{SocketEvent::Kind::Connected, {}};
    event.handshakeRetried = HandshakeRetried(descriptor);
    if (!socket_.setSocketDescriptor(descriptor, QAbstractSocket::ConnectedState, QIODevice::ReadOnly)) {
        ::close(descriptor);
        Report(FailureOf(socket_.error(), socket_.errorString()), socket_.errorString().toStdString());
        return;
    }
    event.address = socket_.peerAddress().toString().toStdString();
    Notify(event);
}

std::string QtSocket::GetData(std::size_t maxBytes)
{
    const qint64 limit = maxBytes > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<qint64>(maxBytes);
    if (!socket_.isOpen())
        return {};
    const QByteArray bytes = socket_.read(limit);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void QtSocket::StopConnecting()
{
    if (lookupId_ != -1) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    writable_.reset();
    if (connecting_ >= 0) {
        ::close(connecting_);
        connecting_ = -1;
    }
    addresses_.clear();
}

void QtSocket::Close()
{
    // abort() emits disconnected() (and may report errors) inside the call:
    // open_ is cleared first, so none of that reaches the handler.
    open_ = false;
    handler_ = nullptr;
    ++generation_;
    StopConnecting();
    if (socket_.state() != QAbstractSocket::UnconnectedState || socket_.bytesAvailable() > 0)
        socket_.abort();
}

void QtSocket::Report(SocketFailure failure, const std::string& description)
{
    if (!open_)
        return;
    // The connection is over; a handler that does not close still gets no
    // second event for it.
    open_ = false;
    StopConnecting();
    Notify({SocketEvent::Kind::Failed, {failure, description}});
    pump_.Wake();
}

void QtSocket::DataArrived()
{
    if (!open_ || socket_.bytesAvailable() <= 0)
        return;
    gotData_ = true;
    Notify({SocketEvent::Kind::DataArrived, {}});
    pump_.Wake();
}

void QtSocket::ErrorOccurred(QAbstractSocket::SocketError error)
{
    if (!open_)
        return;
    // A server that sends its line and closes: the close is the normal end.
    // One that closes without a word is reported as a reset with
    // QTcpSocket's text, "The remote host closed the connection".
    if (error == QAbstractSocket::RemoteHostClosedError && gotData_)
        return;
    const QString description = socket_.errorString();
    Report(FailureOf(error, description), description.toStdString());
}

void QtSocket::Notify(const SocketEvent& event)
{
    // A copy: the handler may close the socket, which forgets handler_.
    const SocketHandler handler = handler_;
    if (handler)
        handler(event);
}

socklen_t QtSocket::SystemAddressOf(const QHostAddress& address, quint16 port, sockaddr_storage& peer)
{
    peer = {};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in = reinterpret_cast<sockaddr_in*>(&peer);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof *in;
    }
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&peer);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof in6->sin6_addr);
        if (!address.scopeId().isEmpty())
            in6->sin6_scope_id = static_cast<uint32_t>(QNetworkInterface::interfaceIndexFromName(address.scopeId()));
        return sizeof *in6;
    }
    return 0;
}

SocketFailure QtSocket::FailureOfErrno(int error)
{
    switch (error) {
        case ECONNREFUSED:
            return SocketFailure::Refused;
        case ETIMEDOUT:
            return SocketFailure::TimedOut;
        case EHOSTUNREACH:
            return SocketFailure::HostUnreachable;
        case ENETUNREACH:
            return SocketFailure::NetworkUnreachable;
        case ECONNRESET:
            return SocketFailure::Reset;
        case EACCES:
        case EPERM:
            return SocketFailure::AccessDenied;
        case EADDRNOTAVAIL:
            return SocketFailure::AddressNotAvailable;
        case EAFNOSUPPORT:
            return SocketFailure::AddressFamilyNotSupported;
        case ENOBUFS:
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return SocketFailure::NoBuffers;
        default:
            return SocketFailure::NetworkDown;
    }
}

std::string QtSocket::ConnectErrorText(int error)
{
    switch (error) {
        case ECONNREFUSED:
            return "Connection refused";
        case ETIMEDOUT:
            return "Connection timed out";
        case EHOSTUNREACH:
            return "Host unreachable";
        case ENETUNREACH:
            return "Network unreachable";
        case ECONNRESET:
            return "Connection reset by peer";
        default:
            return error == 0 ? "Network error" : std::strerror(error);
    }
}

SocketFailure QtSocket::FailureOf(QAbstractSocket::SocketError error, const QString& description)
{
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError:
            return SocketFailure::Refused;
        case QAbstractSocket::RemoteHostClosedError:
            return SocketFailure::Reset;
        case QAbstractSocket::HostNotFoundError:
            return SocketFailure::HostNotFound;
        case QAbstractSocket::SocketTimeoutError:
            return SocketFailure::TimedOut;
        case QAbstractSocket::SocketAccessError:
            return SocketFailure::AccessDenied;
        case QAbstractSocket::SocketResourceError:
            return SocketFailure::NoBuffers;
        case QAbstractSocket::DatagramTooLargeError:
            return SocketFailure::MessageTooLong;
        case QAbstractSocket::AddressInUseError:
            return SocketFailure::AddressInUse;
        case QAbstractSocket::UnsupportedSocketOperationError:
        case QAbstractSocket::OperationError:
            return SocketFailure::NotSupported;
        case QAbstractSocket::NetworkError:
            // Qt folds unreachable hosts and networks into one code; its text
            // tells them apart.
            if (description.contains(QLatin1String("host unreachable"), Qt::CaseInsensitive))
                return SocketFailure::HostUnreachable;
            if (description.contains(QLatin1String("network unreachable"), Qt::CaseInsensitive))
                return SocketFailure::NetworkUnreachable;
            return SocketFailure::NetworkDown;
        default:
            return SocketFailure::NetworkDown;
    }
}

}  // namespace vel::platform
