#include "platform/linux/linux_time_services.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariant>
#include <optional>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

namespace {

constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// Asks one question after another; after the first that gets no answer in
// time the service is taken to be hung and nothing more is asked.
class Questions {
public:
    Questions(const QDBusConnection& bus, int timeoutMs) : bus_(bus), timeoutMs_(timeoutMs) {}

    // The value of a property; nullopt on any error.
    std::optional<QVariant> Property(const QString& service, const QString& path, const QString& interface,
                                     const QString& name)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
        call << interface << name;
        const std::optional<QDBusMessage> reply = Ask(call);
        if (!reply || reply->arguments().isEmpty())
            return std::nullopt;
        return qvariant_cast<QDBusVariant>(reply->arguments().at(0)).variant();
    }

    // The systemd unit's object, where the unit is loaded; nullopt otherwise.
    std::optional<QString> LoadedUnit(const QString& unit)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
            QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("GetUnit"));
        call << unit;
        const std::optional<QDBusMessage> reply = Ask(call);
        if (!reply || reply->arguments().isEmpty())
            return std::nullopt;
        return qvariant_cast<QDBusObjectPath>(reply->arguments().at(0)).path();
    }

    bool Hung() const { return hung_; }

private:
    std::optional<QDBusMessage> Ask(const QDBusMessage& call)
    {
        if (hung_)
            return std::nullopt;
        const QDBusMessage reply = CallAndWait(bus_, call, timeoutMs_);
        if (IsNoAnswer(reply))
            hung_ = true;
        if (reply.type() != QDBusMessage::ReplyMessage)
            return std::nullopt;
        return reply;
    }

    QDBusConnection bus_;
    int timeoutMs_;
    bool hung_ = false;
};

bool IsRunning(const QString& activeState)
{
    return activeState == QLatin1String("active") || activeState == QLatin1String("activating") ||
           activeState == QLatin1String("reloading");
}

}  // namespace

TimeService FindTimeServiceInCharge(const TimeServiceOptions& options)
{
    const BusConnection owner(options.busAddress, QStringLiteral("timeservices"));
    const QDBusConnection bus = owner.Get();
    if (!bus.isConnected())
        return {};
    Questions ask(bus, options.timeoutMs);

    // timedated starts when asked (bus activation), as timedatectl starts it.
    const std::optional<QVariant> ntp =
        ask.Property(QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("/org/freedesktop/timedate1"),
                     QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("NTP"));
    const bool synchronising = ntp && ntp->toBool();
    const std::string timedatectl = "timedatectl set-ntp false";

    for (const char* name : kTimeServiceUnits) {
        const std::optional<QString> unit = ask.LoadedUnit(QString::fromLatin1(name));
        if (ask.Hung())
            break;
        if (!unit)
            continue;
        const std::optional<QVariant> state =
            ask.Property(QStringLiteral("org.freedesktop.systemd1"), *unit,
                         QStringLiteral("org.freedesktop.systemd1.Unit"), QStringLiteral("ActiveState"));
        if (state && IsRunning(state->toString()))
            return {name, synchronising ? timedatectl : std::string("systemctl disable --now ") + name};
    }
    if (synchronising)
        return {"systemd-timedated's network time synchronisation", timedatectl};
    return {};
}

}  // namespace vel::platform
