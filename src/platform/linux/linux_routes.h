// The online state as the kernel shows it: the default route in the routing
// tables (/proc/net/route, else /proc/net/ipv6_route) and the network
// interfaces (/sys/class/net): which are ppp links, which are modems.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vel::platform {

struct DefaultRoute {
    std::string interface;
    std::uint64_t metric = 0;
};

// The default route of lowest metric that is up (not a reject route) in the
// text of /proc/net/route or /proc/net/ipv6_route; nullopt when there is none.
std::optional<DefaultRoute> Ipv4DefaultRoute(std::string_view routeTable);
std::optional<DefaultRoute> Ipv6DefaultRoute(std::string_view routeTable);

class LinuxRoutes {
public:
    // procRoot: where net/route and net/ipv6_route are; sysRoot: where
    // class/net/<interface>/flags, type and uevent are.
    LinuxRoutes(std::string procRoot, std::string sysRoot);

    // The IPv4 default route, else the IPv6 one; nullopt when there is none.
    std::optional<DefaultRoute> Default() const;

    // True when an interface of the ppp kind (by its name or its type) is up.
    bool PppLinkUp() const;

    // A ppp or wwan interface, by its name or, for other names (a USB modem),
    // by its type or its device type.
    bool IsModemInterface(const std::string& interface) const;

private:
    std::string procRoot_;
    std::string sysRoot_;
};

}  // namespace vel::platform
