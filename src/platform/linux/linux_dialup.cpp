#include "platform/linux/linux_dialup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cstdlib>

#include "platform/factory.h"
#include "platform/linux/network_manager.h"

namespace vel::platform {

namespace {

constexpr unsigned kRouteUp = 0x0001;      // RTF_UP
constexpr unsigned kRouteReject = 0x0200;  // RTF_REJECT: "unreachable", not a way out
constexpr unsigned kInterfaceUp = 0x1;     // IFF_UP
constexpr int kPppInterfaceType = 512;     // ARPHRD_PPP

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::optional<std::string> ReadFile(const std::string& path)
{
    QFile file(Q(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll().toStdString();
}

bool IsOrdinaryFile(const std::string& path)
{
    const QFileInfo info(Q(path));
    return info.isFile();
}

std::vector<std::string_view> SplitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

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

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

QStringList Arguments(const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const auto& argument : arguments)
        list << Q(argument);
    return list;
}

// Untranslated messages and values, UTF-8 names.
QProcessEnvironment ProgramEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", "C.UTF-8");
    environment.remove("LANGUAGE");
    return environment;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

// --- the system's texts ---

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
        const auto fields = SplitWords(line);
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
        const auto fields = SplitWords(line);
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

bool IsModemProfileType(std::string_view type, std::string_view bluetoothType)
{
    if (type == "bluetooth")
        return bluetoothType == "dun";  // dial-up over a phone, not a personal area network
    return type == "gsm" || type == "cdma" || type == "pppoe" || type == "adsl";
}

std::string PonNameProblem(std::string_view name)
{
    if (name.empty())
        return "pon cannot take an empty name";
    if (name.front() == '-')
        return "pon cannot take a name that starts with \"-\" (it would be an option)";
    if (name.front() == '.')
        return "pon cannot take a name that starts with \".\"";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ' ')
            return "pon cannot take a name with a blank in it";
        if (byte < 0x20 || byte == 0x7f)
            return "pon cannot take a name with a control character in it";
        if (c == '/')
            return "pon cannot take a name with a \"/\" in it";
        if (c == '\\')
            return "pon cannot take a name with a backslash in it";
        if (c == '*' || c == '?' || c == '[')
            return "pon cannot take a name with a wildcard (*, ? or [) in it";
    }
    return {};
}

bool IsPeerNameForPon(std::string_view name)
{
    return PonNameProblem(name).empty();
}

std::optional<std::string> PeerOfPppdCommandLine(std::string_view commandLine)
{
    std::vector<std::string_view> argv;
    std::size_t start = 0;
    while (start < commandLine.size()) {
        std::size_t end = commandLine.find('\0', start);
        if (end == std::string_view::npos)
            end = commandLine.size();
        argv.push_back(commandLine.substr(start, end - start));
        start = end + 1;
    }
    if (argv.empty())
        return std::nullopt;
    const std::string_view program = argv[0].substr(argv[0].find_last_of('/') + 1);
    if (program != "pppd")
        return std::nullopt;
    for (std::size_t i = 1; i + 1 < argv.size(); ++i)
        if (argv[i] == "call" && !argv[i + 1].empty())
            return std::string(argv[i + 1]);
    return std::nullopt;
}

// --- the back end ---

LinuxDialUp::LinuxDialUp(LinuxDialUpConfig config)
    : config_(std::move(config)),
      networkManager_(std::make_unique<NetworkManagerClient>(config_.busAddress, config_.networkManagerTimeoutMs))
{
}

LinuxDialUp::~LinuxDialUp() = default;

std::optional<std::string> LinuxDialUp::FindProgram(const std::string& program) const
{
    if (program.empty())
        return std::nullopt;
    if (program.find('/') != std::string::npos) {
        const QFileInfo info(Q(program));
        if (info.isFile() && info.isExecutable())
            return program;
        return std::nullopt;
    }
    QString found;
    if (config_.searchPath.empty()) {
        found = QStandardPaths::findExecutable(Q(program));
    } else {
        // An empty list would make Qt search the process's PATH instead.
        const QStringList folders = Q(config_.searchPath).split(':', Qt::SkipEmptyParts);
        if (!folders.isEmpty())
            found = QStandardPaths::findExecutable(Q(program), folders);
    }
    if (found.isEmpty())
        return std::nullopt;
    return found.toStdString();
}

bool LinuxDialUp::StartDetached(const std::string& program, const std::vector<std::string>& arguments) const
{
    const auto path = FindProgram(program);
    if (!path)
        return false;
    QProcess process;
    process.setProgram(Q(*path));
    process.setArguments(Arguments(arguments));
    process.setProcessEnvironment(ProgramEnvironment());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

bool LinuxDialUp::IsModemProfile(const NmProfile& profile)
{
    return IsModemProfileType(profile.type, profile.bluetoothType);
}

bool LinuxDialUp::IsModemConnection(const NmActiveConnection& connection)
{
    if (connection.type != "bluetooth")
        return IsModemProfileType(connection.type);
    // Dial-up over a phone or a network of its own: only the profile says.
    const auto profile = networkManager_->Profile(connection.profilePath);
    return profile && IsModemProfile(*profile);
}

std::optional<std::vector<NmProfile>> LinuxDialUp::NmModemProfiles()
{
    auto profiles = networkManager_->Profiles();
    if (!profiles)
        return std::nullopt;
    std::erase_if(*profiles, [](const NmProfile& profile) { return profile.id.empty() || !IsModemProfile(profile); });
    return profiles;
}

std::optional<std::vector<NmActiveConnection>> LinuxDialUp::NmModemConnections()
{
    auto active = networkManager_->ActiveConnections();
    if (!active)
        return std::nullopt;
    std::vector<NmActiveConnection> connections;
    for (auto& connection : *active) {
        // Going down is no longer active.
        if (connection.id.empty() || (connection.state != NM_ACTIVE_CONNECTION_STATE_ACTIVATING &&
                                      connection.state != NM_ACTIVE_CONNECTION_STATE_ACTIVATED))
            continue;
        if (IsModemConnection(connection))
            connections.push_back(std::move(connection));
    }
    if (networkManager_->Hung())
        return std::nullopt;
    return connections;
}

bool LinuxDialUp::NmPrimaryIsModem(const NmManagerState& manager)
{
    if (manager.primaryConnection.empty())
        return false;
    if (manager.primaryType != "bluetooth")
        return IsModemProfileType(manager.primaryType);
    if (const auto active = networkManager_->ActiveConnections())
        for (const auto& connection : *active)
            if (connection.path == manager.primaryConnection)
                return IsModemConnection(connection);
    return false;
}

std::vector<std::string> LinuxDialUp::Peers() const
{
    const QDir folder(Q(config_.peersFolder));
    std::vector<std::string> peers;
    for (const QFileInfo& info : folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        std::string name = info.fileName().toStdString();
        // Left out: what pon cannot dial as it stands (and editor backups).
        if (IsPeerNameForPon(name) && name.back() != '~')
            peers.push_back(std::move(name));
    }
    std::sort(peers.begin(), peers.end());
    return peers;
}

std::vector<std::string> LinuxDialUp::RunningPppdPeers() const
{
    const QDir proc(Q(config_.procRoot));
    std::vector<std::pair<unsigned long, std::string>> found;
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const unsigned long pid = entry.toULong(&numeric);
        if (!numeric)
            continue;
        const auto commandLine = ReadFile(config_.procRoot + "/" + entry.toStdString() + "/cmdline");
        if (!commandLine)
            continue;
        if (auto peer = PeerOfPppdCommandLine(*commandLine))
            found.emplace_back(pid, std::move(*peer));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> peers;
    for (auto& [pid, peer] : found)
        if (!Contains(peers, peer))
            peers.push_back(std::move(peer));
    return peers;
}

bool LinuxDialUp::PppLinkUp() const
{
    const std::string net = config_.sysRoot + "/class/net";
    for (const QString& entry : QDir(Q(net)).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const std::string interface = entry.toStdString();
        const std::string folder = net + "/" + interface;
        const auto type = ReadFile(folder + "/type");
        const bool ppp = StartsWith(interface, "ppp") ||
                         (type && ParseNumber<int>(Trimmed(*type), 10) == kPppInterfaceType);
        if (!ppp)
            continue;
        const auto flags = ReadFile(folder + "/flags");
        if (!flags)
            continue;
        std::string hex = Trimmed(*flags);
        if (StartsWith(hex, "0x"))
            hex.erase(0, 2);
        const auto value = ParseNumber<unsigned>(hex, 16);
        if (value && (*value & kInterfaceUp) != 0)
            return true;
    }
    return false;
}

bool LinuxDialUp::IsModemInterface(const std::string& interface) const
{
    if (StartsWith(interface, "ppp") || StartsWith(interface, "wwan"))
        return true;
    const std::string folder = config_.sysRoot + "/class/net/" + interface;
    if (const auto type = ReadFile(folder + "/type"); type && ParseNumber<int>(Trimmed(*type), 10) == kPppInterfaceType)
        return true;
    if (const auto uevent = ReadFile(folder + "/uevent"))
        for (const std::string_view line : SplitLines(*uevent))
            if (line == "DEVTYPE=wwan")
                return true;
    return false;
}

bool LinuxDialUp::DialUpInstalled(bool networkManager) const
{
    return networkManager || FindProgram(config_.pon) || QFileInfo(Q(config_.peersFolder)).isDir();
}

ConnectedState LinuxDialUp::GetConnectedState()
{
    const std::optional<NmManagerState> manager = networkManager_->Manager();
    const std::uint32_t installed = DialUpInstalled(manager.has_value()) ? std::uint32_t{ConnectionFlags::RasInstalled} : 0u;
    std::optional<DefaultRoute> route;
    if (const auto table = ReadFile(config_.procRoot + "/net/route"))
        route = Ipv4DefaultRoute(*table);
    if (!route)
        if (const auto table = ReadFile(config_.procRoot + "/net/ipv6_route"))
            route = Ipv6DefaultRoute(*table);
    // NetworkManager's own word counts as well: a default route it holds
    // where this process does not see it, with the internet confirmed or not.
    const bool managerOnline = manager && manager->state >= NM_STATE_CONNECTED_SITE;
    if (!route && !managerOnline)
        return {false, ConnectionFlags::Offline | installed};

    // A modem whose interface has another name (a USB network device):
    // NetworkManager knows the kind of the connection that holds the default
    // route.
    const bool modem = (route && IsModemInterface(route->interface)) || (manager && NmPrimaryIsModem(*manager));
    return {true, (modem ? ConnectionFlags::Modem : ConnectionFlags::Lan) | installed};
}

bool LinuxDialUp::IsDialUpLinkUp()
{
    if (const auto active = NmModemConnections())
        for (const auto& connection : *active)
            if (connection.state == NM_ACTIVE_CONNECTION_STATE_ACTIVATED)
                return true;
    return PppLinkUp();
}

std::vector<std::string> LinuxDialUp::ActiveConnections()
{
    std::vector<std::string> names;
    if (const auto active = NmModemConnections())
        for (const auto& connection : *active)
            if (!Contains(names, connection.id))
                names.push_back(connection.id);
    for (auto& peer : RunningPppdPeers())
        if (!Contains(names, peer))
            names.push_back(std::move(peer));
    return names;
}

std::vector<std::string> LinuxDialUp::Entries()
{
    std::vector<std::string> names;
    if (const auto profiles = NmModemProfiles())
        for (const auto& profile : *profiles)
            if (!Contains(names, profile.id))
                names.push_back(profile.id);
    for (auto& peer : Peers())
        if (!Contains(names, peer))
            names.push_back(std::move(peer));
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
    if (const auto profiles = NmModemProfiles(); profiles && !profiles->empty()) {
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
    if (IsOrdinaryFile(config_.peersFolder + "/provider"))
        return "provider";
    return {};
}

std::string LinuxDialUp::DialRefusal(const std::string& entry)
{
    if (const auto profiles = NmModemProfiles())
        for (const auto& profile : *profiles)
            if (profile.id == entry)
                return {};
    // Not NetworkManager's: it goes to pon.
    return PonNameProblem(entry);
}

void LinuxDialUp::StartDialer(const std::string& entry)
{
    if (entry.empty())
        return;
    if (const auto profiles = NmModemProfiles())
        for (const auto& profile : *profiles)
            if (profile.id == entry) {
                networkManager_->Activate(profile.path);
                return;
            }
    if (IsPeerNameForPon(entry) && IsOrdinaryFile(config_.peersFolder + "/" + entry))
        StartDetached(config_.pon, {entry});
}

void LinuxDialUp::HangUp(const std::string& entry)
{
    if (entry.empty())
        return;
    bool managed = false;
    if (const auto active = NmModemConnections())
        for (const auto& connection : *active)
            if (connection.id == entry) {
                networkManager_->Deactivate(connection.path);
                managed = true;
            }
    if (managed)
        return;
    if (const auto profiles = NmModemProfiles())
        for (const auto& profile : *profiles)
            if (profile.id == entry)
                return;  // NetworkManager's, and not up: nothing to hang up
    // poff with no name, or with an option, would stop every pppd.
    if (IsPeerNameForPon(entry) && (IsOrdinaryFile(config_.peersFolder + "/" + entry) ||
                                    Contains(RunningPppdPeers(), entry)))
        StartDetached(config_.poff, {entry});
}

std::vector<std::string> LinuxDialUp::TakeWarnings()
{
    return networkManager_->TakeWarnings();
}

std::unique_ptr<DialUpNetworking> CreateDialUpNetworking()
{
    return std::make_unique<LinuxDialUp>();
}

}  // namespace vel::platform
