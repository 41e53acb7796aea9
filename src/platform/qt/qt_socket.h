// The program's TCP client socket: our own connect, then QTcpSocket.
#pragma once

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTcpSocket>
#include <sys/socket.h>
#include <memory>
#include <string>

#include "platform/event_pump.h"
#include "platform/socket.h"

namespace vel::platform {

// Events reach the handler inside the event pump (Qt's signals and socket
// notifiers), and the pump is woken after each. Errors carry the failure
// and Qt's or the system's description.
//
// QTcpSocket::connectToHost tries every address of the host twice, so a
// refusal costs two connections and a reset straight after the accept a
// second one. A time server that counts its clients must see one connection
// per address tried: the socket looks the name up (QHostInfo), connects to
// each address in turn itself, non-blocking, and hands the connected
// descriptor to QTcpSocket, which reads it.
//
// Whether the handshake was retried comes from the kernel (TCP_INFO's count
// of retransmissions, read as the connect completes); failing that, from its
// length (kFirstSynRetrySeconds).
class QtSocket : public QObject, public Socket {
    Q_OBJECT
public:
    explicit QtSocket(EventPump& pump);
    ~QtSocket() override;

    void Connect(const std::string& host, int port, SocketHandler handler) override;
    std::string GetData(std::size_t maxBytes) override;
    void Close() override;

    // The failure of a QTcpSocket error.
    static SocketFailure FailureOf(QAbstractSocket::SocketError error, const QString& description);
    // The failure and a description for an errno of connect().
    static SocketFailure FailureOfErrno(int error);
    static std::string ConnectErrorText(int error);
    // The system's form of an address and port; 0 for a kind of address
    // that has none (neither IPv4 nor IPv6).
    static socklen_t SystemAddressOf(const QHostAddress& address, quint16 port, sockaddr_storage& peer);

private:
    void Start(unsigned generation);
    void LookedUp(const QHostInfo& info);
    void TryNextAddress();
    void ConnectFinished();
    void Connected(int descriptor);
    bool HandshakeRetried(int descriptor) const;
    void StopConnecting();
    void Report(SocketFailure failure, const std::string& description);
    void Notify(const SocketEvent& event);
    void DataArrived();
    void ErrorOccurred(QAbstractSocket::SocketError error);

    EventPump& pump_;
    SocketHandler handler_;
    QTcpSocket socket_;
    QString host_;
    quint16 port_ = 0;
    bool open_ = false;              // between Connect and Close: events go to the handler
    bool gotData_ = false;           // this connection has delivered data
    unsigned generation_ = 0;        // counts Connect and Close: a late callback of an older one is dropped
    int lookupId_ = -1;              // the host lookup under way
    QList<QHostAddress> addresses_;  // those not tried yet
    int connecting_ = -1;            // the descriptor whose connect is under way
    std::unique_ptr<QSocketNotifier> writable_;
    int lastError_ = 0;             // errno of the last failed connect
    QElapsedTimer handshakeTimer_;  // since the latest handshake began
};

}  // namespace vel::platform
