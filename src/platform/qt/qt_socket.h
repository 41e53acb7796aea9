// The program's TCP client socket over QTcpSocket.
#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QString>
#include <QTcpSocket>

#include "platform/event_pump.h"
#include "platform/socket.h"

namespace vel::platform {

// Events reach the handler inside the event pump (Qt's signals), and the pump
// is woken after each. Errors carry Windows Sockets numbers and QTcpSocket's
// own description.
class QtSocket : public QObject, public Socket {
    Q_OBJECT
public:
    explicit QtSocket(EventPump& pump);
    ~QtSocket() override;

    void SetHandler(SocketEvents* handler) override { handler_ = handler; }
    void SetRemoteHost(const std::string& host) override;
    void SetRemotePort(int port) override;
    void Connect() override;
    std::string GetData(std::size_t maxBytes) override;
    void Close() override;

    // The Windows Sockets number for a QTcpSocket error.
    static int WinsockNumber(QAbstractSocket::SocketError error, const QString& description);

private:
    void DataArrived();
    void ErrorOccurred(QAbstractSocket::SocketError error);

    EventPump& pump_;
    SocketEvents* handler_ = nullptr;
    QTcpSocket socket_;
    QString host_;
    quint16 port_ = 0;
    bool open_ = false;      // between Connect and Close: events go to the handler
    bool gotData_ = false;   // this connection has delivered data
};

}  // namespace vel::platform
