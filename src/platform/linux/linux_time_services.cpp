#include "platform/linux/linux_time_services.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QVariant>
#include <initializer_list>
#include <optional>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

namespace {

constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// One answer: a reply, "not there" (an error that says so), or nothing
// known (any other error, or no answer in time), with why.
struct Answer {
    std::optional<QDBusMessage> reply;
    std::string unknown;
};

// Asks one question after another; after the first that gets no answer in
// time the service is taken to be hung and nothing more is asked. The first
// question without an answer is remembered.
class Questions {
public:
    Questions(const QDBusConnection& bus, int timeoutMs) : bus_(bus), timeoutMs_(timeoutMs) {}

    // The value of a property; nullopt where its service is not there (it
    // is not installed).
    std::optional<QVariant> Property(const QString& service, const QString& path, const QString& interface,
                                     const QString& name)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, kProperties, QStringLiteral("Get"));
        call << interface << name;
        const std::optional<QDBusMessage> reply =
            Ask(call, {"org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner"},
                service.toStdString() + " did not say " + name.toStdString());
        if (!reply || reply->arguments().isEmpty())
            return std::nullopt;
        return qvariant_cast<QDBusVariant>(reply->arguments().at(0)).variant();
    }

    // The systemd unit's object, where the unit is loaded; nullopt where it
    // is not.
    std::optional<QString> LoadedUnit(const QString& unit)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
            QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("GetUnit"));
        call << unit;
        const std::optional<QDBusMessage> reply = Ask(call, {"org.freedesktop.systemd1.NoSuchUnit"},
                                                      "systemd did not say whether " + unit.toStdString() + " runs");
        if (!reply || reply->arguments().isEmpty())
            return std::nullopt;
        return qvariant_cast<QDBusObjectPath>(reply->arguments().at(0)).path();
    }

    // Why an answer is missing, for the first question that got none; empty
    // while every question got one.
    const std::string& Unknown() const { return unknown_; }

private:
    // The reply; nullopt for an error, which leaves the matter unknown
    // unless its name is one of `absent` (the thing asked about is not there).
    std::optional<QDBusMessage> Ask(const QDBusMessage& call, std::initializer_list<const char*> absent,
                                    const std::string& question)
    {
        if (hung_)
            return std::nullopt;
        const QDBusMessage reply = CallAndWait(bus_, call, timeoutMs_);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return reply;
        for (const char* name : absent)
            if (reply.errorName() == QLatin1String(name))
                return std::nullopt;
        hung_ = IsNoAnswer(reply);
        if (!unknown_.empty())
            return std::nullopt;
        unknown_ = question;
        unknown_ += IsNoAnswer(reply) ? " within " + std::to_string((timeoutMs_ + 999) / 1000) + " s"
                                      : ": " + reply.errorMessage().toStdString();
        if (!reply.errorName().isEmpty())
            unknown_ += " (" + reply.errorName().toStdString() + ")";
        return std::nullopt;
    }

    QDBusConnection bus_;
    int timeoutMs_;
    bool hung_ = false;
    std::string unknown_;
};

bool IsRunning(const QString& activeState)
{
    return activeState == QLatin1String("active") || activeState == QLatin1String("activating") ||
           activeState == QLatin1String("reloading");
}

TimeService Unknown(const std::string& why)
{
    return {{}, {}, why};
}

}  // namespace

TimeService FindTimeServiceInCharge(const TimeServiceOptions& options)
{
    const BusConnection owner(options.busAddress, QStringLiteral("timeservices"));
    const QDBusConnection bus = owner.Get();
    if (!bus.isConnected()) {
        const QString message = bus.lastError().message();
        return Unknown("the system bus cannot be reached" +
                       (message.isEmpty() ? std::string() : " (" + message.toStdString() + ")"));
    }
    Questions ask(bus, options.timeoutMs);

    // timedated starts when asked (bus activation), as timedatectl starts it.
    const std::optional<QVariant> ntp =
        ask.Property(QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("/org/freedesktop/timedate1"),
                     QStringLiteral("org.freedesktop.timedate1"), QStringLiteral("NTP"));
    const bool synchronising = ntp && ntp->toBool();
    const std::string timedatectl = "timedatectl set-ntp false";

    for (const char* name : kTimeServiceUnits) {
        const std::optional<QString> unit = ask.LoadedUnit(QString::fromLatin1(name));
        if (!unit)
            continue;
        const std::optional<QVariant> state =
            ask.Property(QStringLiteral("org.freedesktop.systemd1"), *unit,
                         QStringLiteral("org.freedesktop.systemd1.Unit"), QStringLiteral("ActiveState"));
        if (state && IsRunning(state->toString()))
            return {name, synchronising ? timedatectl : std::string("systemctl disable --now ") + name};
    }
    // What was learnt holds, even where another question went unanswered.
    if (synchronising)
        return {"systemd-timedated's network time synchronisation", timedatectl};
    if (!ask.Unknown().empty())
        return Unknown(ask.Unknown());
    return {};
}

}  // namespace vel::platform
