#include "platform/linux/network_manager.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <utility>

#include "platform/linux/dbus_call.h"

namespace vel::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kManagerPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kManagerInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kProfileInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

using SettingsMap = QMap<QString, QVariantMap>;  // a{sa{sv}}

// A variant as it comes out of a reply: plain, or still marshalled.
template <typename T>
T Unmarshalled(const QVariant& value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<T>(value.value<QDBusArgument>());
    return value.value<T>();
}

std::string Text(const QVariant& value)
{
    return value.toString().toStdString();
}

std::string PathText(const QVariant& value)
{
    const QString path = value.metaType() == QMetaType::fromType<QDBusObjectPath>()
                             ? value.value<QDBusObjectPath>().path()
                             : value.toString();
    return path == QLatin1String("/") ? std::string() : path.toStdString();
}

std::vector<std::string> Paths(const QVariant& value)
{
    std::vector<std::string> paths;
    for (const QDBusObjectPath& path : Unmarshalled<QList<QDBusObjectPath>>(value))
        paths.push_back(path.path().toStdString());
    return paths;
}

}  // namespace

NetworkManagerClient::NetworkManagerClient(std::string busAddress, int timeoutMs)
    : bus_(std::make_unique<BusConnection>(busAddress, QStringLiteral("networkmanager"))), timeoutMs_(timeoutMs)
{}

NetworkManagerClient::~NetworkManagerClient() = default;

std::optional<QDBusMessage> NetworkManagerClient::Call(const QString& path, const QString& interface,
                                                       const QString& method, const QList<QVariant>& arguments)
{
    if (hung_)
        return std::nullopt;
    const QDBusConnection bus = bus_->Get();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, path, interface, method);
    call.setArguments(arguments);
    // A NetworkManager that is not running is not started for us.
    call.setAutoStartService(false);
    const QDBusMessage reply = CallAndWait(bus, call, timeoutMs_);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply;
    if (IsNoAnswer(reply)) {
        hung_ = true;
        warnings_.push_back("WARNING: NetworkManager does not answer");
    }
    return std::nullopt;
}

std::optional<QVariantMap> NetworkManagerClient::Properties(const QString& path, const QString& interface)
{
    const auto reply = Call(path, kPropertiesInterface, QStringLiteral("GetAll"), {interface});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return Unmarshalled<QVariantMap>(reply->arguments().constFirst());
}

std::string NetworkManagerClient::Request(const QString& method, const QList<QVariant>& arguments)
{
    if (hung_)
        return "NetworkManager does not answer";
    const QDBusConnection bus = bus_->Get();
    if (!bus.isConnected())
        return "NetworkManager cannot be reached";
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kManagerPath, kManagerInterface, method);
    call.setArguments(arguments);
    call.setAutoStartService(false);
    // As the dialer would: polkit may ask the desktop's user.
    call.setInteractiveAuthorizationAllowed(true);
    const QDBusMessage reply = CallAndWait(bus, call, timeoutMs_);
    // No word yet is no refusal: polkit may still be asking.
    if (reply.type() == QDBusMessage::ReplyMessage || IsNoAnswer(reply))
        return {};
    std::string reason = "NetworkManager refused";
    if (!reply.errorMessage().isEmpty())
        reason += ": " + reply.errorMessage().toStdString();
    if (!reply.errorName().isEmpty())
        reason += " (" + reply.errorName().toStdString() + ")";
    return reason;
}

std::optional<NmManagerState> NetworkManagerClient::Manager()
{
    const auto properties = Properties(kManagerPath, kManagerInterface);
    if (!properties)
        return std::nullopt;
    NmManagerState manager;
    manager.state = properties->value(QStringLiteral("State")).toUInt();
    manager.primaryConnection = PathText(properties->value(QStringLiteral("PrimaryConnection")));
    manager.primaryType = Text(properties->value(QStringLiteral("PrimaryConnectionType")));
    return manager;
}

std::optional<NmProfile> NetworkManagerClient::Profile(const std::string& path)
{
    const QString objectPath = QString::fromStdString(path);
    const auto reply = Call(objectPath, kProfileInterface, QStringLiteral("GetSettings"), {});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    const SettingsMap settings = Unmarshalled<SettingsMap>(reply->arguments().constFirst());
    const QVariantMap connection = settings.value(QStringLiteral("connection"));
    NmProfile profile;
    profile.path = path;
    profile.id = Text(connection.value(QStringLiteral("id")));
    profile.type = Text(connection.value(QStringLiteral("type")));
    // NetworkManager leaves out what has its default value.
    profile.autoconnect = connection.value(QStringLiteral("autoconnect"), true).toBool();
    profile.priority = connection.value(QStringLiteral("autoconnect-priority"), 0).toLongLong();
    profile.bluetoothType = Text(settings.value(QStringLiteral("bluetooth")).value(QStringLiteral("type")));
    return profile;
}

std::optional<std::vector<std::string>> NetworkManagerClient::ProfilePaths()
{
    const auto reply = Call(kSettingsPath, kSettingsInterface, QStringLiteral("ListConnections"), {});
    if (!reply || reply->arguments().isEmpty())
        return std::nullopt;
    return Paths(reply->arguments().constFirst());
}

std::optional<std::vector<NmProfile>> NetworkManagerClient::Profiles()
{
    const auto paths = ProfilePaths();
    if (!paths)
        return std::nullopt;
    std::vector<NmProfile> profiles;
    for (const std::string& path : *paths) {
        // A profile that went meanwhile is left out.
        if (auto profile = Profile(path))
            profiles.push_back(std::move(*profile));
        if (hung_)
            return std::nullopt;
    }
    return profiles;
}

std::optional<std::vector<NmActiveConnection>> NetworkManagerClient::ActiveConnections()
{
    const auto manager = Properties(kManagerPath, kManagerInterface);
    if (!manager)
        return std::nullopt;
    std::vector<NmActiveConnection> connections;
    for (const std::string& path : Paths(manager->value(QStringLiteral("ActiveConnections")))) {
        const auto properties = Properties(QString::fromStdString(path), kActiveInterface);
        if (hung_)
            return std::nullopt;
        if (!properties)
            continue;  // gone meanwhile
        NmActiveConnection connection;
        connection.path = path;
        connection.profilePath = PathText(properties->value(QStringLiteral("Connection")));
        connection.id = Text(properties->value(QStringLiteral("Id")));
        connection.type = Text(properties->value(QStringLiteral("Type")));
        connection.state = properties->value(QStringLiteral("State")).toUInt();
        connections.push_back(std::move(connection));
    }
    return connections;
}

std::string NetworkManagerClient::Activate(const std::string& profilePath)
{
    const QDBusObjectPath none(QStringLiteral("/"));
    return Request(QStringLiteral("ActivateConnection"),
                   {QVariant::fromValue(QDBusObjectPath(QString::fromStdString(profilePath))),
                    QVariant::fromValue(none), QVariant::fromValue(none)});
}

std::string NetworkManagerClient::Deactivate(const std::string& activePath)
{
    return Request(QStringLiteral("DeactivateConnection"),
                   {QVariant::fromValue(QDBusObjectPath(QString::fromStdString(activePath)))});
}

std::vector<std::string> NetworkManagerClient::TakeWarnings()
{
    return std::exchange(warnings_, {});
}

}  // namespace vel::platform
