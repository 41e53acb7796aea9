// Dial-up networking and the online state on Linux, joined from three
// sources (each in its own file): NetworkManager over D-Bus where it runs
// (network_manager_modems), pppd (linux_pppd) and the kernel's routing tables
// and interfaces (linux_routes).
//
// NetworkManager: the entries are its connection profiles of the modem kinds;
// a dial activates the profile, a hang-up deactivates its active connection,
// neither waiting for the outcome. Each call to it waits a few hundred
// milliseconds at most, the event loop running meanwhile; one that does not
// answer is logged once and not asked again, and the back end goes on as
// without it. A dial reads the profiles only until the one of its name. Otherwise pppd: the entries
// are the peers in /etc/ppp/peers, a dial is `pon NAME`, a hang-up
// `poff NAME`, an active connection a running `pppd call NAME`, a link a ppp
// interface that is up.
//
// Online is a default route (IPv4, else IPv6), or NetworkManager's global
// state of connected; a modem connection is one whose default route leaves
// through a ppp or wwan interface, or NetworkManager's primary connection of
// a modem kind. The default entry (what the run hangs up) is the first active
// dial-up connection; with none up, NetworkManager's autoconnect modem
// profile, else pppd's "provider". A dial that cannot start (no entry of
// that name, a name pon cannot take, pon missing) says why at once. The
// active connections and whether a link is up come from one question to
// NetworkManager, so a poll of the link costs no more than before.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialup.h"
#include "platform/linux/linux_pppd.h"
#include "platform/linux/linux_routes.h"

namespace vel::platform {

// Where the back end looks: every file and program location, so that tests
// can point it at a tree of their own.
struct LinuxDialUpConfig {
    std::string procRoot = "/proc";              // net/route, net/ipv6_route, <pid>/cmdline
    std::string sysRoot = "/sys";                // class/net/<interface>/flags, type, uevent
    std::string peersFolder = "/etc/ppp/peers";  // one file per pppd peer
    // Folders the programs are looked for in, separated by ':' as in PATH;
    // empty: the process's PATH. A program named with a '/' is taken as it is.
    std::string searchPath;
    std::string pon = "pon";
    std::string poff = "poff";
    // The bus NetworkManager is asked on: a D-Bus address; empty: the system
    // bus (DBUS_SYSTEM_BUS_ADDRESS, else the usual socket).
    std::string busAddress;
    // The longest one answer of NetworkManager is waited for (milliseconds).
    int networkManagerTimeoutMs = 300;
};

class NetworkManagerModems;

class LinuxDialUp : public DialUpNetworking {
public:
    explicit LinuxDialUp(LinuxDialUpConfig config = {});
    ~LinuxDialUp() override;
    LinuxDialUp(const LinuxDialUp&) = delete;
    LinuxDialUp& operator=(const LinuxDialUp&) = delete;

    ConnectionState GetConnectionState() override;
    ActiveDialUp GetActiveDialUp() override;
    Phonebook GetPhonebook() override;
    bool SameEntryNameIgnoringCase(const std::string& a, const std::string& b) override;  // linux_entry_names.cpp
    std::string StartDialer(const std::string& entry) override;
    std::string HangUp(const std::string& entry) override;
    std::vector<std::string> TakeWarnings() override;

private:
    LinuxRoutes routes_;
    Pppd pppd_;
    std::unique_ptr<NetworkManagerModems> networkManager_;
};

}  // namespace vel::platform
