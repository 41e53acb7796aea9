#include "platform/linux/network_manager_modems.h"

namespace vel::platform {

namespace {

bool IsModemProfile(const NmProfile& profile)
{
    return IsModemProfileType(profile.type, profile.bluetoothType);
}

}  // namespace

bool IsModemProfileType(std::string_view type, std::string_view bluetoothType)
{
    if (type == "bluetooth")
        return bluetoothType == "dun";  // dial-up over a phone, not a personal area network
    return type == "gsm" || type == "cdma" || type == "pppoe" || type == "adsl";
}

NetworkManagerModems::NetworkManagerModems(std::string busAddress, int timeoutMs)
    : client_(std::move(busAddress), timeoutMs)
{}

std::optional<std::vector<NmProfile>> NetworkManagerModems::Profiles()
{
    auto profiles = client_.Profiles();
    if (!profiles)
        return std::nullopt;
    std::erase_if(*profiles, [](const NmProfile& profile) { return profile.id.empty() || !IsModemProfile(profile); });
    return profiles;
}

NetworkManagerModems::Lookup NetworkManagerModems::ProfileNamed(const std::string& name)
{
    Lookup lookup;
    const auto paths = client_.ProfilePaths();
    if (!paths || name.empty())
        return lookup;
    lookup.answered = true;
    for (const std::string& path : *paths) {
        auto profile = client_.Profile(path);
        if (client_.Hung()) {
            lookup.answered = false;
            break;
        }
        if (profile && profile->id == name && IsModemProfile(*profile)) {
            lookup.profile = std::move(profile);
            break;
        }
    }
    return lookup;
}

std::optional<std::vector<NmActiveConnection>> NetworkManagerModems::Connections()
{
    auto active = client_.ActiveConnections();
    if (!active)
        return std::nullopt;
    std::vector<NmActiveConnection> connections;
    for (auto& connection : *active) {
        if (connection.id.empty() || (connection.state != NM_ACTIVE_CONNECTION_STATE_ACTIVATING &&
                                      connection.state != NM_ACTIVE_CONNECTION_STATE_ACTIVATED))
            continue;
        if (IsModemConnection(connection))
            connections.push_back(std::move(connection));
    }
    // A profile that could not be read for want of time leaves the list unsure.
    if (client_.Hung())
        return std::nullopt;
    return connections;
}

bool NetworkManagerModems::PrimaryIsModem(const NmManagerState& manager)
{
    if (manager.primaryConnection.empty())
        return false;
    if (manager.primaryType != "bluetooth")
        return IsModemProfileType(manager.primaryType);
    if (const auto active = client_.ActiveConnections())
        for (const auto& connection : *active)
            if (connection.path == manager.primaryConnection)
                return IsModemConnection(connection);
    return false;
}

bool NetworkManagerModems::IsModemConnection(const NmActiveConnection& connection)
{
    if (connection.type != "bluetooth")
        return IsModemProfileType(connection.type);
    // Dial-up over a phone or a network of its own: only the profile says.
    const auto profile = client_.Profile(connection.profilePath);
    return profile && IsModemProfile(*profile);
}

}  // namespace vel::platform
