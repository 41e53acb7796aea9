#include "platform/linux/linux_timedated.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QVariant>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

std::string SetTimeThroughTimedated(const timespec& utc, const TimedatedOptions& options, std::string* errorName)
{
    const BusConnection owner(options.busAddress, QStringLiteral("timedated"));
    const QDBusConnection bus = owner.Get();
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

    // The window keeps repainting and Cancel keeps answering while polkit
    // asks the user.
    const QDBusMessage reply = CallAndWait(bus, call, options.timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    if (errorName != nullptr)
        *errorName = reply.errorName().toStdString();
    std::string reason = "systemd-timedated refused";
    if (!reply.errorMessage().isEmpty())
        reason += ": " + reply.errorMessage().toStdString();
    if (!reply.errorName().isEmpty())
        reason += " (" + reply.errorName().toStdString() + ")";
    return reason;
}

}  // namespace vel::platform
