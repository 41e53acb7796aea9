#include "platform/linux/linux_routes.h"

#include <QDir>
#include <QString>
#include <charconv>

#include "common/text.h"
#include "platform/linux/system_files.h"

namespace vel::platform {

namespace {

constexpr unsigned kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned kRouteReject = 0x0200;  // RTF_REJECT: "unreachable", not a way out
constexpr unsigned kInterfaceUp = 0x1;     // IFF_UP
constexpr int kPppInterfaceType = 512;     // ARPHRD_PPP

// The whole text as a number in the base; nullopt for anything else.
template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool AllZeros(std::string_view hex)
{
    return !hex.empty() && hex.find_first_not_of('0') == std::string_view::npos;
}

bool IsDefaultRouteUp(std::optional<unsigned> flags)
{
    return flags && (*flags & kRouteUp) != 0 && (*flags & kRouteReject) == 0;
}

void KeepLowestMetric(std::optional<DefaultRoute>& best, std::string_view interface, std::uint64_t metric)
{
    if (!best || metric < best->metric)
        best = DefaultRoute{std::string(interface), metric};
}

// The number in sys/class/net/<interface>/type, one line of decimal text.
bool HasPppType(const std::string& interfaceFolder)
{
    const auto type = ReadWholeFile(interfaceFolder + "/type");
    return type && ParseNumber<int>(TrimBlanksTabsAndLineEnds(*type), 10) == kPppInterfaceType;
}

}  // namespace

std::optional<DefaultRoute> Ipv4DefaultRoute(std::string_view routeTable)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT;
    // addresses and flags in hex, the metric in decimal.
    std::optional<DefaultRoute> best;
    bool header = true;
    for (const std::string_view line : SplitLines(routeTable)) {
        if (header) {
            header = false;
            continue;
        }
        const auto fields = SplitAtBlanksAndTabs(line);
        if (fields.size() < 8)
            continue;
        const auto destination = ParseNumber<std::uint32_t>(fields[1], 16);
        const auto mask = ParseNumber<std::uint32_t>(fields[7], 16);
        const auto metric = ParseNumber<std::uint64_t>(fields[6], 10);
        if (destination != 0u || mask != 0u || !metric || !IsDefaultRouteUp(ParseNumber<unsigned>(fields[3], 16)))
            continue;
        KeepLowestMetric(best, fields[0], *metric);
    }
    return best;
}

std::optional<DefaultRoute> Ipv6DefaultRoute(std::string_view routeTable)
{
    // destination, its prefix length, source, its prefix length, next hop,
    // metric, reference count, use, flags, interface; all numbers in hex.
    std::optional<DefaultRoute> best;
    for (const std::string_view line : SplitLines(routeTable)) {
        const auto fields = SplitAtBlanksAndTabs(line);
        if (fields.size() < 10 || fields[0].size() != 32 || !AllZeros(fields[0]) ||
            ParseNumber<unsigned>(fields[1], 16) != 0u)
            continue;
        const auto metric = ParseNumber<std::uint64_t>(fields[5], 16);
        if (!metric || !IsDefaultRouteUp(ParseNumber<unsigned>(fields[8], 16)))
            continue;
        KeepLowestMetric(best, fields[9], *metric);
    }
    return best;
}

LinuxRoutes::LinuxRoutes(std::string procRoot, std::string sysRoot)
    : procRoot_(std::move(procRoot)), sysRoot_(std::move(sysRoot))
{}

std::optional<DefaultRoute> LinuxRoutes::Default() const
{
    std::optional<DefaultRoute> route;
    if (const auto table = ReadWholeFile(procRoot_ + "/net/route"))
        route = Ipv4DefaultRoute(*table);
    if (!route)
        if (const auto table = ReadWholeFile(procRoot_ + "/net/ipv6_route"))
            route = Ipv6DefaultRoute(*table);
    return route;
}

bool LinuxRoutes::PppLinkUp() const
{
    const std::string net = sysRoot_ + "/class/net";
    for (const QString& entry : QDir(QString::fromStdString(net)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string interface = entry.toStdString();
        const std::string folder = net + "/" + interface;
        if (!interface.starts_with("ppp") && !HasPppType(folder))
            continue;
        const auto flags = ReadWholeFile(folder + "/flags");
        if (!flags)
            continue;
        std::string_view hex = TrimBlanksTabsAndLineEnds(*flags);
        if (hex.starts_with("0x"))
            hex.remove_prefix(2);
        const auto value = ParseNumber<unsigned>(hex, 16);
        if (value && (*value & kInterfaceUp) != 0)
            return true;
    }
    return false;
}

bool LinuxRoutes::IsModemInterface(const std::string& interface) const
{
    if (interface.starts_with("ppp") || interface.starts_with("wwan"))
        return true;
    const std::string folder = sysRoot_ + "/class/net/" + interface;
    if (HasPppType(folder))
        return true;
    if (const auto uevent = ReadWholeFile(folder + "/uevent"))
        for (const std::string_view line : SplitLines(*uevent))
            if (line == "DEVTYPE=wwan")
                return true;
    return false;
}

}  // namespace vel::platform
