#include "platform/linux/linux_dialup.h"

#include <algorithm>

#include "platform/linux/network_manager_modems.h"

namespace vel::platform {

namespace {

// Adds the name unless the list holds it already.
void AddOnce(std::vector<std::string>& names, std::string name)
{
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(std::move(name));
}

}  // namespace

LinuxDialUp::LinuxDialUp(LinuxDialUpConfig config)
    : routes_(config.procRoot, config.sysRoot),
      pppd_(PppdPlaces{config.peersFolder, config.procRoot, config.pon, config.poff}, ProgramRunner(config.searchPath)),
      networkManager_(std::make_unique<NetworkManagerModems>(config.busAddress, config.networkManagerTimeoutMs))
{}

LinuxDialUp::~LinuxDialUp() = default;

ConnectedState LinuxDialUp::GetConnectedState()
{
    const std::optional<NmManagerState> manager = networkManager_->Manager();
    const bool dialUpInstalled = manager.has_value() || pppd_.Installed();
    const std::uint32_t installed = dialUpInstalled ? std::uint32_t{ConnectionFlags::RasInstalled} : 0u;
    const std::optional<DefaultRoute> route = routes_.Default();
    // NetworkManager's own word counts as well: a default route it holds
    // where this process does not see it, with the internet confirmed or not.
    const bool managerOnline = manager && manager->state >= NM_STATE_CONNECTED_SITE;
    if (!route && !managerOnline)
        return {false, ConnectionFlags::Offline | installed};

    // A modem whose interface has another name (a USB network device):
    // NetworkManager knows the kind of the connection that holds the default
    // route.
    const bool modem =
        (route && routes_.IsModemInterface(route->interface)) || (manager && networkManager_->PrimaryIsModem(*manager));
    return {true, (modem ? ConnectionFlags::Modem : ConnectionFlags::Lan) | installed};
}

bool LinuxDialUp::IsDialUpLinkUp()
{
    if (const auto active = networkManager_->Connections())
        for (const auto& connection : *active)
            if (connection.state == NM_ACTIVE_CONNECTION_STATE_ACTIVATED)
                return true;
    return routes_.PppLinkUp();
}

std::vector<std::string> LinuxDialUp::ActiveConnections()
{
    std::vector<std::string> names;
    if (const auto active = networkManager_->Connections())
        for (const auto& connection : *active)
            AddOnce(names, connection.id);
    for (auto& peer : pppd_.RunningPeers())
        AddOnce(names, std::move(peer));
    return names;
}

std::vector<std::string> LinuxDialUp::Entries()
{
    std::vector<std::string> names;
    if (const auto profiles = networkManager_->Profiles())
        for (const auto& profile : *profiles)
            AddOnce(names, profile.id);
    for (auto& peer : pppd_.Peers())
        AddOnce(names, std::move(peer));
    return names;
}

std::string LinuxDialUp::DefaultEntry()
{
    // There is no user's default entry here: the line to hang up is the one
    // that is up, the first listed as the active connections go.
    if (auto active = ActiveConnections(); !active.empty())
        return std::move(active.front());
    // None is up: NetworkManager's modem profile that it connects by itself
    // (the highest autoconnect priority, the first listed among equals), else
    // the only modem profile there is.
    if (const auto profiles = networkManager_->Profiles(); profiles && !profiles->empty()) {
        const NmProfile* best = nullptr;
        for (const auto& profile : *profiles)
            if (profile.autoconnect && (!best || profile.priority > best->priority))
                best = &profile;
        if (best)
            return best->id;
        if (profiles->size() == 1)
            return profiles->front().id;
    }
    // pppd's: the peer that pon dials without a name.
    if (pppd_.HasPeer("provider"))
        return "provider";
    return {};
}

std::string LinuxDialUp::StartDialer(const std::string& entry)
{
    const NetworkManagerModems::Lookup lookup = networkManager_->ProfileNamed(entry);
    if (lookup.profile)
        return networkManager_->Activate(lookup.profile->path);
    // Not NetworkManager's: a pppd peer, dialled with pon.
    if (!pppd_.HasPeerFile(entry))
        return std::string("there is no such entry: no ") +
               (lookup.answered ? "NetworkManager modem profile and no " : "") + "pppd peer in " + pppd_.PeersFolder() +
               " has that name";
    return pppd_.Dial(entry);
}

std::string LinuxDialUp::HangUp(const std::string& entry)
{
    if (entry.empty())
        return {};
    bool managed = false;
    std::string failure;
    if (const auto active = networkManager_->Connections())
        for (const auto& connection : *active)
            if (connection.id == entry) {
                managed = true;
                if (std::string why = networkManager_->Deactivate(connection.path); !why.empty())
                    failure = std::move(why);
            }
    if (managed)
        return failure;
    // A pppd peer, or nothing of that name is up.
    return pppd_.HangUp(entry);
}

std::vector<std::string> LinuxDialUp::TakeWarnings()
{
    return networkManager_->TakeWarnings();
}

}  // namespace vel::platform
