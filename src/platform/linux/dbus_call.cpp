#include "platform/linux/dbus_call.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusPendingCallWatcher>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

namespace vel::platform {

BusConnection::BusConnection(const std::string& address, const QString& purpose)
{
    if (address.empty())
        return;
    name_ = QStringLiteral("veltrane-%1-%2").arg(purpose).arg(reinterpret_cast<quintptr>(this), 0, 16);
    QDBusConnection::connectToBus(QString::fromStdString(address), name_);
}

BusConnection::~BusConnection()
{
    if (!name_.isEmpty())
        QDBusConnection::disconnectFromBus(name_);
}

QDBusConnection BusConnection::Get() const
{
    return name_.isEmpty() ? QDBusConnection::systemBus() : QDBusConnection(name_);
}

QDBusMessage CallAndWait(const QDBusConnection& bus, const QDBusMessage& call, int timeoutMs)
{
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, timeoutMs));
    if (!watcher.isFinished()) {
        if (QCoreApplication::instance() == nullptr) {
            watcher.waitForFinished();
        } else {
            QEventLoop loop;
            QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
            // The bus ends the call at the time-out; this only guards against
            // one that does not.
            QTimer guard;
            guard.setSingleShot(true);
            guard.setTimerType(Qt::PreciseTimer);
            QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
            guard.start(timeoutMs + 1000);
            if (!watcher.isFinished())
                loop.exec();
        }
    }
    if (!watcher.isFinished())
        return call.createErrorReply(QDBusError::NoReply, QStringLiteral("no answer within the time-out"));
    return watcher.reply();
}

bool IsNoAnswer(const QDBusMessage& reply)
{
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
           name == QLatin1String("org.freedesktop.DBus.Error.TimedOut");
}

}  // namespace vel::platform
