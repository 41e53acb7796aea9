// Dial-up networking and the online state on Linux.
//
// NetworkManager, spoken to over D-Bus where it runs: the entries are its
// connection profiles of the modem kinds (gsm, cdma, pppoe, adsl, bluetooth
// dial-up); a dial activates the profile, a hang-up deactivates its active
// connection, neither waiting for the outcome. Each call to it waits a few
// hundred milliseconds at most; one that does not answer is logged once and
// not asked again, and the back end goes on as without it. Otherwise pppd:
// the entries are the peers in /etc/ppp/peers; a dial is `pon NAME`, a
// hang-up `poff NAME` (started with an argument vector, never through a
// shell, and not waited for); an active connection is a running
// `pppd call NAME`; a link is a ppp interface that is up.
//
// Online is a default route (IPv4, else IPv6), or NetworkManager's global
// state of connected; a modem connection is one whose default route leaves
// through a ppp or wwan interface, or NetworkManager's primary connection of
// a modem kind. The default entry (what the run hangs up) is the first active
// dial-up connection; with none up, NetworkManager's autoconnect modem
// profile, else pppd's "provider". A name pon cannot take is refused before
// any dial.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialup.h"

namespace vel::platform {

// Where the back end looks: every file and program location, so that tests
// can point it at a tree of their own.
struct LinuxDialUpConfig {
    std::string procRoot = "/proc";               // net/route, net/ipv6_route, <pid>/cmdline
    std::string sysRoot = "/sys";                 // class/net/<interface>/flags, type, uevent
    std::string peersFolder = "/etc/ppp/peers";   // one file per pppd peer
    // Folders the programs are looked for in, separated by ':' as in PATH;
    // empty: the process's PATH. A program named with a '/' is taken as it is.
    std::string searchPath;
    std::string pon = "pon";
    std::string poff = "poff";
    // The bus NetworkManager is asked on: a D-Bus address; empty: the system
    // bus (DBUS_SYSTEM_BUS_ADDRESS, else the usual socket).
    std::string busAddress;
    // The longest one call to NetworkManager may hold the window (milliseconds).
    int networkManagerTimeoutMs = 300;
};

class NetworkManagerClient;
struct NmActiveConnection;
struct NmManagerState;
struct NmProfile;

class LinuxDialUp : public DialUpNetworking {
public:
    explicit LinuxDialUp(LinuxDialUpConfig config = {});
    ~LinuxDialUp() override;
    LinuxDialUp(const LinuxDialUp&) = delete;
    LinuxDialUp& operator=(const LinuxDialUp&) = delete;

    ConnectedState GetConnectedState() override;
    bool IsDialUpLinkUp() override;
    std::vector<std::string> ActiveConnections() override;
    std::vector<std::string> Entries() override;
    std::string DefaultEntry() override;
    std::string DialRefusal(const std::string& entry) override;
    void StartDialer(const std::string& entry) override;
    void HangUp(const std::string& entry) override;
    std::vector<std::string> TakeWarnings() override;

private:
    std::optional<std::string> FindProgram(const std::string& program) const;
    bool StartDetached(const std::string& program, const std::vector<std::string>& arguments) const;

    static bool IsModemProfile(const NmProfile& profile);
    bool IsModemConnection(const NmActiveConnection& connection);
    std::optional<std::vector<NmProfile>> NmModemProfiles();
    // Activating or activated, of a modem kind, in NetworkManager's order.
    std::optional<std::vector<NmActiveConnection>> NmModemConnections();
    bool NmPrimaryIsModem(const NmManagerState& manager);

    std::vector<std::string> Peers() const;
    std::vector<std::string> RunningPppdPeers() const;
    bool PppLinkUp() const;
    bool IsModemInterface(const std::string& interface) const;
    bool DialUpInstalled(bool networkManager) const;

    LinuxDialUpConfig config_;
    std::unique_ptr<NetworkManagerClient> networkManager_;
};

// The pieces that read the system's texts.

struct DefaultRoute {
    std::string interface;
    std::uint64_t metric = 0;
};

// The default route of lowest metric that is up (not a reject route) in the
// text of /proc/net/route or /proc/net/ipv6_route; nullopt when there is none.
std::optional<DefaultRoute> Ipv4DefaultRoute(std::string_view routeTable);
std::optional<DefaultRoute> Ipv6DefaultRoute(std::string_view routeTable);

// The profile types of the modem kinds: gsm, cdma, pppoe, adsl, and
// bluetooth when its bluetooth.type is "dun" (dial-up networking over a
// phone; "panu" and "nap" are networks, not dial-up).
bool IsModemProfileType(std::string_view type, std::string_view bluetoothType = {});

// Why pon and poff would not pass the name through intact (a sentence for
// the log), empty when they would: they hand it on unquoted, so a blank, a
// wildcard, a backslash or a control character would split or change it, a
// leading '-' would make it an option and a '/' leave the peers folder.
std::string PonNameProblem(std::string_view name);
bool IsPeerNameForPon(std::string_view name);

// The peer of a process's command line (the NUL-separated text of
// /proc/<pid>/cmdline) when it is `pppd ... call NAME ...`.
std::optional<std::string> PeerOfPppdCommandLine(std::string_view commandLine);

}  // namespace vel::platform
