// D-Bus calls that never hold the window: each is sent without blocking and
// its answer waited for in an event loop of its own, so windows repaint,
// buttons answer and a stop signal is taken while the service thinks. The
// handlers that run meanwhile only set flags, so the wait may nest.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <string>

namespace vel::platform {

// A connection of our own to the bus at an address, for the life of this
// object; the system bus when the address is empty.
class BusConnection {
public:
    // purpose: a word for the connection's name ("networkmanager").
    BusConnection(const std::string& address, const QString& purpose);
    ~BusConnection();
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;

    QDBusConnection Get() const;

private:
    QString name_;
};

// Sends the call and returns its answer: a reply, or an error message (that
// of the bus, or a NoReply error once timeoutMs have passed). Until then the
// thread's event loop runs (without a QCoreApplication the thread blocks).
QDBusMessage CallAndWait(const QDBusConnection& bus, const QDBusMessage& call, int timeoutMs);

// The error of an answer that did not come in time.
bool IsNoAnswer(const QDBusMessage& reply);

}  // namespace vel::platform
