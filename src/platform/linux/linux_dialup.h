// Dial-up networking and the online state on Linux.
//
// NetworkManager, where `nmcli` answers: the entries are its connection
// profiles of the modem kinds (gsm, cdma, pppoe, adsl, bluetooth dial-up); a dial is
// `nmcli connection up id NAME`, a hang-up `nmcli connection down id NAME`,
// both started without waiting. Otherwise pppd: the entries are the peers in
// /etc/ppp/peers; a dial is `pon NAME`, a hang-up `poff NAME`; an active
// connection is a running `pppd call NAME`; a link is a ppp interface that is
// up. Online is a default route (IPv4, else IPv6); a modem connection is one
// whose default route leaves through a ppp or wwan interface, or, under
// NetworkManager, an active profile of a modem kind that holds the default
// route. The default entry (what the run hangs up) is the first active
// dial-up connection; with none up, NetworkManager's autoconnect modem
// profile, else pppd's "provider". A name pon cannot take is refused before
// any dial. Programs are started with an argument vector, never through a
// shell.
#pragma once

#include <cstdint>
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
    std::string nmcli = "nmcli";
    std::string pon = "pon";
    std::string poff = "poff";
    // An nmcli query that has not ended by then is stopped and counts as no
    // answer (milliseconds).
    int queryTimeoutMs = 3000;
};

class LinuxDialUp : public DialUpNetworking {
public:
    explicit LinuxDialUp(LinuxDialUpConfig config = {});

    ConnectedState GetConnectedState() override;
    bool IsDialUpLinkUp() override;
    std::vector<std::string> ActiveConnections() override;
    std::vector<std::string> Entries() override;
    std::string DefaultEntry() override;
    std::string DialRefusal(const std::string& entry) override;
    void StartDialer(const std::string& entry) override;
    void HangUp(const std::string& entry) override;

private:
    struct NmProfile {
        std::string name;
        std::string type;
        bool autoconnect = false;
        long priority = 0;
    };
    struct NmActiveConnection {
        std::string name;
        std::string type;
        std::string state;
    };

    std::optional<std::string> FindProgram(const std::string& program) const;
    std::optional<std::string> Query(const std::string& program, const std::vector<std::string>& arguments) const;
    bool StartDetached(const std::string& program, const std::vector<std::string>& arguments) const;

    bool NetworkManagerAnswers() const;
    std::optional<std::vector<NmProfile>> NmProfiles() const;
    std::optional<std::vector<NmActiveConnection>> NmModemConnections() const;
    bool IsNmModemProfile(const std::string& name, const std::string& type) const;
    bool NmHoldsDefaultRoute(const std::string& name) const;

    std::vector<std::string> Peers() const;
    std::vector<std::string> RunningPppdPeers() const;
    bool PppLinkUp() const;
    bool IsModemInterface(const std::string& interface) const;
    bool DialUpInstalled() const;

    LinuxDialUpConfig config_;
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

// One line of nmcli's terse output split at the colons that are not escaped,
// with the escapes (\: and \\) undone.
std::vector<std::string> SplitTerseFields(std::string_view line);

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
