#include "platform/qt/qt_datagram_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/qt/qt_socket.h"

namespace vel::platform {

QtDatagramSocket::QtDatagramSocket(EventPump& pump) : pump_(pump)
{}

QtDatagramSocket::~QtDatagramSocket()
{
    Close();
}

void QtDatagramSocket::Open(const std::string& host, int port, DatagramHandler handler)
{
    Close();
    host_ = QString::fromStdString(host);
    port_ = static_cast<quint16>(port);
    handler_ = std::move(handler);
    open_ = true;
    // Even an outcome known at once arrives as an event, from the pump.
    const unsigned generation = ++generation_;
    QMetaObject::invokeMethod(
        this, [this, generation] { Start(generation); }, Qt::QueuedConnection);
}

void QtDatagramSocket::Start(unsigned generation)
{
    if (!open_ || generation != generation_)
        return;
    QHostAddress literal;
    if (literal.setAddress(host_)) {
        Bind({literal});
        return;
    }
    lookupId_ = QHostInfo::lookupHost(host_, this, &QtDatagramSocket::LookedUp);
}

void QtDatagramSocket::LookedUp(const QHostInfo& info)
{
    if (!open_ || info.lookupId() != lookupId_)
        return;
    lookupId_ = -1;
    if (info.error() == QHostInfo::NoError && !info.addresses().isEmpty()) {
        Bind(info.addresses());
        return;
    }
    const QString text = info.error() == QHostInfo::NoError ? QStringLiteral("Host not found") : info.errorString();
    Fail(info.error() == QHostInfo::UnknownError ? SocketFailure::TryAgain : SocketFailure::HostNotFound,
         text.toStdString());
}

// The first address this system has a way to: a UDP connect sends nothing,
// it only picks the route and the source address.
void QtDatagramSocket::Bind(const QList<QHostAddress>& addresses)
{
    int lastError = EAFNOSUPPORT;
    for (const QHostAddress& address : addresses) {
        sockaddr_storage peer{};
        const socklen_t length = QtSocket::SystemAddressOf(address, port_, peer);
        if (length == 0) {
            continue;
        }
        const int descriptor = ::socket(peer.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor < 0) {
            lastError = errno;
            continue;
        }
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&peer), length) != 0) {
            lastError = errno;
            ::close(descriptor);
            continue;
        }
        descriptor_ = descriptor;
        readable_ = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
        connect(readable_.get(), &QSocketNotifier::activated, this, &QtDatagramSocket::Readable);
        Notify({DatagramEvent::Kind::Ready, {}});
        pump_.Wake();
        return;
    }
    Fail(QtSocket::FailureOfErrno(lastError), QtSocket::ConnectErrorText(lastError));
}

bool QtDatagramSocket::Send(const std::string& bytes, SocketError& error)
{
    if (descriptor_ < 0) {
        error = {SocketFailure::NotSupported, "the socket is not open", 0};
        return false;
    }
    if (::send(descriptor_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()))
        return true;
    const int number = errno;
    error = {QtSocket::FailureOfErrno(number), QtSocket::ConnectErrorText(number), 0};
    return false;
}

std::optional<std::string> QtDatagramSocket::Receive(std::size_t maxBytes)
{
    if (descriptor_ < 0)
        return std::nullopt;
    std::vector<char> buffer(maxBytes > 0 ? maxBytes : 1);
    const ssize_t got = ::recv(descriptor_, buffer.data(), maxBytes, MSG_DONTWAIT);
    if (got < 0)
        return std::nullopt;  // nothing more now; an error waits for the notifier
    return std::string(buffer.data(), static_cast<std::size_t>(got));
}

// A datagram, or the peer's system's refusal (an ICMP error is the socket's
// pending error, taken by the next read).
void QtDatagramSocket::Readable()
{
    if (!open_ || descriptor_ < 0)
        return;
    char probe = 0;
    const ssize_t got = ::recv(descriptor_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got >= 0) {
        Notify({DatagramEvent::Kind::Arrived, {}});
        pump_.Wake();
        return;
    }
    const int number = errno;
    if (number == EAGAIN || number == EWOULDBLOCK || number == EINTR)
        return;
    Fail(QtSocket::FailureOfErrno(number), QtSocket::ConnectErrorText(number));
}

void QtDatagramSocket::Fail(SocketFailure failure, const std::string& description)
{
    if (!open_)
        return;
    // Nothing follows a failure.
    open_ = false;
    CloseDescriptor();
    Notify({DatagramEvent::Kind::Failed, {failure, description, 0}});
    pump_.Wake();
}

void QtDatagramSocket::Notify(const DatagramEvent& event)
{
    // A copy: the handler may close the socket, which forgets handler_.
    const DatagramHandler handler = handler_;
    if (handler)
        handler(event);
}

void QtDatagramSocket::CloseDescriptor()
{
    if (lookupId_ != -1) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    if (readable_) {
        readable_->setEnabled(false);
        // Closing may happen inside the notifier's own signal.
        readable_.release()->deleteLater();
    }
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

void QtDatagramSocket::Close()
{
    open_ = false;
    handler_ = nullptr;
    ++generation_;
    CloseDescriptor();
}

}  // namespace vel::platform
