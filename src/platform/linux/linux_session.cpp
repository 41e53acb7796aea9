#include "platform/linux/linux_session.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariant>
#include <optional>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");

std::optional<QVariant> Property(const QDBusConnection& bus, int timeoutMs, const QString& path,
                                 const QString& interface, const QString& name)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogind, path, QStringLiteral("org.freedesktop.DBus.Properties"), "Get");
    call << interface << name;
    const QDBusMessage reply = CallAndWait(bus, call, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant();
}

// The object a Manager method returns; nullopt with its error's name.
std::optional<QString> ObjectOf(const QDBusConnection& bus, int timeoutMs, const QString& method, uint id,
                                std::string& error)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                                       QStringLiteral("org.freedesktop.login1.Manager"), method);
    call << id;
    const QDBusMessage reply = CallAndWait(bus, call, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        error = reply.errorName().toStdString();
        return std::nullopt;
    }
    return qvariant_cast<QDBusObjectPath>(reply.arguments().at(0)).path();
}

}  // namespace

SessionKind SessionOfThisProcess(const SessionOptions& options)
{
    const BusConnection owner(options.busAddress, QStringLiteral("session"));
    const QDBusConnection bus = owner.Get();
    if (!bus.isConnected())
        return SessionKind::Unknown;
    std::string error;
    const std::optional<QString> session =
        ObjectOf(bus, options.timeoutMs, QStringLiteral("GetSessionByPID"), static_cast<uint>(::getpid()), error);
    if (!session)
        return error == "org.freedesktop.login1.NoSessionForPID" ? SessionKind::None : SessionKind::Unknown;
    const std::optional<QVariant> remote =
        Property(bus, options.timeoutMs, *session, QStringLiteral("org.freedesktop.login1.Session"), "Remote");
    if (!remote)
        return SessionKind::Unknown;
    if (remote->toBool())
        return SessionKind::Remote;
    const std::optional<QString> user =
        ObjectOf(bus, options.timeoutMs, QStringLiteral("GetUser"), static_cast<uint>(::getuid()), error);
    const std::optional<QVariant> state =
        user ? Property(bus, options.timeoutMs, *user, QStringLiteral("org.freedesktop.login1.User"), "State")
             : std::nullopt;
    if (!state)
        return SessionKind::Unknown;
    return state->toString() == QLatin1String("active") ? SessionKind::ActiveLocal : SessionKind::Inactive;
}

}  // namespace vel::platform
