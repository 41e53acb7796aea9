#include "platform/linux/linux_timedated.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QVariant>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

std::int64_t Microseconds(const Span& step)
{
    // The nanoseconds are 0 .. 999999999 whatever the sign of the span.
    return step.seconds * 1000000 + (step.nanoseconds + 500) / 1000;
}

std::string StepTimeThroughTimedated(const Span& step, const TimedatedOptions& options, std::string* errorName)
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
    const qint64 usec = Microseconds(step);
    call << QVariant::fromValue(usec) << true << true;
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
