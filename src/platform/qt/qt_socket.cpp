#include "platform/qt/qt_socket.h"

#include <QNetworkProxy>

namespace vel::platform {

namespace {

// Windows Sockets numbers that socket.h has no name for.
constexpr int kWsaEacces = 10013;
constexpr int kWsaEmsgsize = 10040;
constexpr int kWsaEopnotsupp = 10045;
constexpr int kWsaEaddrinuse = 10048;
constexpr int kWsaEnobufs = 10055;

// QTcpSocket keeps no more than this unread; a flood waits in the kernel
// until we close.
constexpr qint64 kReadBufferBytes = 64 * 1024;

}  // namespace

QtSocket::QtSocket(EventPump& pump) : pump_(pump)
{
    // The time server is asked directly, never through a proxy.
    socket_.setProxy(QNetworkProxy::NoProxy);
    socket_.setReadBufferSize(kReadBufferBytes);
    connect(&socket_, &QTcpSocket::readyRead, this, &QtSocket::DataArrived);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &QtSocket::ErrorOccurred);
}

QtSocket::~QtSocket()
{
    handler_ = nullptr;
    Close();
}

void QtSocket::SetRemoteHost(const std::string& host)
{
    host_ = QString::fromStdString(host);
}

void QtSocket::SetRemotePort(int port)
{
    port_ = static_cast<quint16>(port);
}

void QtSocket::Connect()
{
    Close();
    gotData_ = false;
    open_ = true;
    socket_.connectToHost(host_, port_);
}

std::string QtSocket::GetData(std::size_t maxBytes)
{
    const qint64 limit = maxBytes > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<qint64>(maxBytes);
    const QByteArray bytes = socket_.read(limit);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void QtSocket::Close()
{
    // abort() emits disconnected() (and may report errors) inside the call:
    // open_ is cleared first, so none of that reaches the handler.
    open_ = false;
    if (socket_.state() != QAbstractSocket::UnconnectedState || socket_.bytesAvailable() > 0)
        socket_.abort();
}

void QtSocket::DataArrived()
{
    if (!open_ || socket_.bytesAvailable() <= 0)
        return;
    gotData_ = true;
    if (handler_)
        handler_->OnDataArrival();
    pump_.Wake();
}

void QtSocket::ErrorOccurred(QAbstractSocket::SocketError error)
{
    if (!open_)
        return;
    // A server that sends its line and closes: the close is the normal end.
    if (error == QAbstractSocket::RemoteHostClosedError && gotData_)
        return;
    const QString description = socket_.errorString();
    const int number = WinsockNumber(error, description);
    // The connection is over; a handler that does not close still gets no
    // second event for it.
    open_ = false;
    if (handler_)
        handler_->OnError(number, description.toStdString());
    pump_.Wake();
}

int QtSocket::WinsockNumber(QAbstractSocket::SocketError error, const QString& description)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return SocketError::ConnectionRefused;
    case QAbstractSocket::RemoteHostClosedError:
        return SocketError::ConnectionReset;
    case QAbstractSocket::HostNotFoundError:
        return SocketError::HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return SocketError::TimedOut;
    case QAbstractSocket::SocketAccessError:
        return kWsaEacces;
    case QAbstractSocket::SocketResourceError:
        return kWsaEnobufs;
    case QAbstractSocket::DatagramTooLargeError:
        return kWsaEmsgsize;
    case QAbstractSocket::AddressInUseError:
        return kWsaEaddrinuse;
    case QAbstractSocket::UnsupportedSocketOperationError:
    case QAbstractSocket::OperationError:
        return kWsaEopnotsupp;
    case QAbstractSocket::NetworkError:
        // Qt folds unreachable hosts and networks into one code; its text
        // tells them apart.
        if (description.contains(QLatin1String("host unreachable"), Qt::CaseInsensitive))
            return SocketError::HostUnreachable;
        if (description.contains(QLatin1String("network unreachable"), Qt::CaseInsensitive))
            return SocketError::NetworkUnreachable;
        return SocketError::NetworkDown;
    default:
        return SocketError::NetworkDown;
    }
}

}  // namespace vel::platform
