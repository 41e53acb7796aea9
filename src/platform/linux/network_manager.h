// NetworkManager over its D-Bus API (org.freedesktop.NetworkManager), as much
// of it as dial-up needs: the connection profiles of the modem kinds, the
// active connections and their state, the primary connection, the global
// state, activating and deactivating a profile.
//
// Every call waits at most the time-out (a few hundred milliseconds) for its
// answer, with the thread's event loop running meanwhile (dbus_call), so the
// windows answer while NetworkManager thinks. A NetworkManager that lets a
// question run out is taken as hung: this object does not ask it again, and
// says so once (TakeWarnings). One that is not running, or a system without a
// bus, simply gives no answer.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QVariant>

class QDBusMessage;

namespace vel::platform {

class BusConnection;

// Global states of NetworkManager (NMState).
enum : std::uint32_t {
    NM_STATE_DISCONNECTED = 20,
    NM_STATE_CONNECTED_LOCAL = 50,  // no default route
    NM_STATE_CONNECTED_SITE = 60,   // a default route, the internet not confirmed
    NM_STATE_CONNECTED_GLOBAL = 70,
};

// States of an active connection (NMActiveConnectionState).
enum : std::uint32_t {
    NM_ACTIVE_CONNECTION_STATE_ACTIVATING = 1,
    NM_ACTIVE_CONNECTION_STATE_ACTIVATED = 2,
    NM_ACTIVE_CONNECTION_STATE_DEACTIVATING = 3,
};

struct NmManagerState {
    std::uint32_t state = 0;        // NM_STATE_
    std::string primaryConnection;  // the active connection that holds the default route; empty: none
    std::string primaryType;        // its connection.type
};

struct NmProfile {
    std::string path;           // the settings connection's object path
    std::string id;             // connection.id: the name the user sees
    std::string type;           // connection.type
    std::string bluetoothType;  // bluetooth.type ("dun", "panu", "nap"); empty for other types
    bool autoconnect = true;
    std::int64_t priority = 0;  // connection.autoconnect-priority
};

struct NmActiveConnection {
    std::string path;         // the active connection's object path
    std::string profilePath;  // its settings connection
    std::string id;
    std::string type;
    std::uint32_t state = 0;  // NM_ACTIVE_CONNECTION_STATE_
};

class NetworkManagerClient {
public:
    // busAddress: a D-Bus address; empty: the system bus. timeoutMs: the
    // longest any call may wait.
    NetworkManagerClient(std::string busAddress, int timeoutMs);
    ~NetworkManagerClient();
    NetworkManagerClient(const NetworkManagerClient&) = delete;
    NetworkManagerClient& operator=(const NetworkManagerClient&) = delete;

    // nullopt: no NetworkManager to ask (not running, hung, no bus).
    std::optional<NmManagerState> Manager();
    // The object paths of the profiles, in NetworkManager's order: one call.
    std::optional<std::vector<std::string>> ProfilePaths();
    // Profiles in NetworkManager's order: one call, and one per profile.
    std::optional<std::vector<NmProfile>> Profiles();
    // Active connections in NetworkManager's order.
    std::optional<std::vector<NmActiveConnection>> ActiveConnections();
    // One profile's settings; nullopt when it cannot be read.
    std::optional<NmProfile> Profile(const std::string& path);

    // The outcome is not waited for (it shows in the active connections
    // later), only NetworkManager's first word, for the time-out at most:
    // polkit may be asking the user, and an answer that takes longer is left
    // to come. Empty when the request went out and was not refused; else why
    // not, for the log.
    std::string Activate(const std::string& profilePath);
    std::string Deactivate(const std::string& activePath);

    // True once a call has run out of time.
    bool Hung() const { return hung_; }

    // "WARNING: NetworkManager does not answer", once, after the first call
    // that ran out of time.
    std::vector<std::string> TakeWarnings();

private:
    std::optional<QDBusMessage> Call(const QString& path, const QString& interface, const QString& method,
                                     const QList<QVariant>& arguments);
    std::optional<QVariantMap> Properties(const QString& path, const QString& interface);
    std::string Request(const QString& method, const QList<QVariant>& arguments);

    std::unique_ptr<BusConnection> bus_;
    int timeoutMs_;
    bool hung_ = false;
    std::vector<std::string> warnings_;
};

}  // namespace vel::platform
