#include "platform/linux/linux_timedated.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QVariant>

namespace vel::platform {

namespace {

// A connection of our own for an address; the system bus otherwise.
class Bus {
public:
    explicit Bus(const std::string& address)
    {
        if (address.empty())
            return;
        name_ = QStringLiteral("veltrane-timedated-%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
        QDBusConnection::connectToBus(QString::fromStdString(address), name_);
    }
    ~Bus()
    {
        if (!name_.isEmpty())
            QDBusConnection::disconnectFromBus(name_);
    }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    QDBusConnection Connection() const
    {
        return name_.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection(name_);
    }

private:
    QString name_;
};

}  // namespace

std::string SetTimeThroughTimedated(const timespec& utc, const TimedatedOptions& options)
{
    const Bus owner(options.busAddress);
    QDBusConnection bus = owner.Connection();
    if (!bus.isConnected()) {
        const QString message = bus.lastError().message();
        return "no system bus to reach systemd-timedated" +
               (message.isEmpty() ? std::string() : " (" + message.toStdString() + ")");
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.timedate1", "/org/freedesktop/timedate1",
                                                       "org.freedesktop.timedate1", "SetTime");
    const qint64 usec = static_cast<qint64>(utc.tv_sec) * 1000000 + utc.tv_nsec / 1000;
    call << QVariant::fromValue(usec) << false << true;
    call.setInteractiveAuthorizationAllowed(true);

    // Wait for the answer in an event loop of our own: the window keeps
    // repainting and Cancel keeps answering while polkit asks the user.
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, options.timeoutMs));
    if (!watcher.isFinished()) {
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        // The bus ends the call at the time-out; this only guards against a
        // bus that does not.
        QTimer guard;
        guard.setSingleShot(true);
        guard.setTimerType(Qt::PreciseTimer);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(options.timeoutMs + 1000);
        if (!watcher.isFinished())
            loop.exec();
    }
    if (!watcher.isFinished())
        return "systemd-timedated did not answer";
    const QDBusMessage reply = watcher.reply();
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    std::string reason = "systemd-timedated refused";
    if (!reply.errorMessage().isEmpty())
        reason += ": " + reply.errorMessage().toStdString();
    if (!reply.errorName().isEmpty())
        reason += " (" + reply.errorName().toStdString() + ")";
    return reason;
}

}  // namespace vel::platform
