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

ConnectionState LinuxDialUp::GetConnectionState()
{
    const std::optional<NmManagerState> manager = networkManager_->Manager();
    ConnectionState state;
    state.dialUpInstalled = manager.has_value() || pppd_.Installed();
    const std::optional<DefaultRoute> route = routes_.Default();
    // NetworkManager's own word counts as well: a default route it holds
    // where this process does not see it, with the internet confirmed or not.
    const bool managerOnline = manager && manager->state >= NM_STATE_CONNECTED_SITE;
    if (!route && !managerOnline) {
        state.offline = true;
        return state;
    }

    // A modem whose interface has another name (a USB network device):
    // NetworkManager knows the kind of the connection that holds the default
    // route.
    state.online = true;
    state.modem =
        (route && routes_.IsModemInterface(route->interface)) || (manager && networkManager_->PrimaryIsModem(*manager));
    state.lan = !state.modem;
    return state;
}

ActiveDialUp LinuxDialUp::GetActiveDialUp()
{
    // One question to NetworkManager answers both.
    ActiveDialUp active;
    if (const auto connections = networkManager_->Connections())
        for (const auto& connection : *connections) {
            AddOnce(active.entries, connection.id);
            if (connection.state == NM_ACTIVE_CONNECTION_STATE_ACTIVATED)
                active.linkUp = true;
        }
    for (auto& peer : pppd_.RunningPeers())
        AddOnce(active.entries, std::move(peer));
    if (!active.linkUp)
        active.linkUp = routes_.PppLinkUp();
    return active;
}

Phonebook LinuxDialUp::GetPhonebook()
{
    Phonebook book;
    // There is no user's default entry here: the line to hang up is the one
    // that is up, the first listed as the active connections go.
    std::vector<std::string> active = GetActiveDialUp().entries;
    const auto profiles = networkManager_->Profiles();
    if (profiles)
        for (const auto& profile : *profiles)
            AddOnce(book.entries, profile.id);
    for (auto& peer : pppd_.Peers())
        AddOnce(book.entries, std::move(peer));

    if (!active.empty()) {
        book.defaultEntry = std::move(active.front());
        return book;
    }
    // None is up: NetworkManager's modem profile that it connects by itself
    // (the highest autoconnect priority, the first listed among equals), else
    // the only modem profile there is.
    if (profiles && !profiles->empty()) {
        const NmProfile* best = nullptr;
        for (const auto& profile : *profiles)
            if (profile.autoconnect && (!best || profile.priority > best->priority))
                best = &profile;
        if (best) {
            book.defaultEntry = best->id;
            return book;
        }
        if (profiles->size() == 1) {
            book.defaultEntry = profiles->front().id;
            return book;
        }
    }
    // pppd's: the peer that pon dials without a name.
    if (pppd_.HasPeer("provider"))
        book.defaultEntry = "provider";
    return book;
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
