// The program's UDP socket on Linux: QHostInfo's lookup, then a plain
// non-blocking socket connected to the peer, read through a QSocketNotifier.
#pragma once

#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

#include "platform/datagram_socket.h"
#include "platform/event_pump.h"

namespace vel::platform {

// Connected, so the kernel drops datagrams from anyone but the peer and
// hands back the peer's "port unreachable" as ECONNREFUSED. Events reach the
// handler inside the event pump, which is woken after each.
class QtDatagramSocket : public QObject, public DatagramSocket {
    Q_OBJECT
public:
    explicit QtDatagramSocket(EventPump& pump);
    ~QtDatagramSocket() override;

    void Open(const std::string& host, int port, DatagramHandler handler) override;
    bool Send(const std::string& bytes, SocketError& error) override;
    std::optional<std::string> Receive(std::size_t maxBytes) override;
    void Close() override;

private:
    void Start(unsigned generation);
    void LookedUp(const QHostInfo& info);
    void Bind(const QList<QHostAddress>& addresses);
    void Readable();
    void Fail(SocketFailure failure, const std::string& description);
    void Notify(const DatagramEvent& event);
    void CloseDescriptor();

    EventPump& pump_;
    DatagramHandler handler_;
    QString host_;
    quint16 port_ = 0;
    bool open_ = false;
    unsigned generation_ = 0;  // counts Open and Close: a late callback of an older one is dropped
    int lookupId_ = -1;
    int descriptor_ = -1;
    std::unique_ptr<QSocketNotifier> readable_;
};

}  // namespace vel::platform
