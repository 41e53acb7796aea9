#include "platform/linux/linux_pppd.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <algorithm>

#include "common/text.h"
#include "platform/linux/system_files.h"

namespace vel::platform {

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
    const std::vector<std::string_view> argv = SplitAt(commandLine, '\0');
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

Pppd::Pppd(PppdPlaces places, ProgramRunner programs) : places_(std::move(places)), programs_(std::move(programs))
{}

bool Pppd::Installed() const
{
    return programs_.Find(places_.pon) || QFileInfo(QString::fromStdString(places_.peersFolder)).isDir();
}

std::vector<std::string> Pppd::Peers() const
{
    const QDir folder(QString::fromStdString(places_.peersFolder));
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

bool Pppd::HasPeer(const std::string& name) const
{
    return IsPeerNameForPon(name) && IsOrdinaryFileAt(places_.peersFolder + "/" + name);
}

bool Pppd::HasPeerFile(const std::string& name) const
{
    const QDir folder(QString::fromStdString(places_.peersFolder));
    return folder.entryList(QDir::Files | QDir::Hidden).contains(QString::fromStdString(name));
}

std::vector<std::string> Pppd::RunningPeers() const
{
    const QDir proc(QString::fromStdString(places_.procRoot));
    std::vector<std::pair<unsigned long, std::string>> found;
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const unsigned long pid = entry.toULong(&numeric);
        if (!numeric)
            continue;
        const auto commandLine = ReadWholeFile(places_.procRoot + "/" + entry.toStdString() + "/cmdline");
        if (!commandLine)
            continue;
        if (auto peer = PeerOfPppdCommandLine(*commandLine))
            found.emplace_back(pid, std::move(*peer));
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> peers;
    for (auto& [pid, peer] : found)
        if (std::find(peers.begin(), peers.end(), peer) == peers.end())
            peers.push_back(std::move(peer));
    return peers;
}

std::string Pppd::Dial(const std::string& name) const
{
    if (const std::string problem = PonNameProblem(name); !problem.empty())
        return problem;
    if (!HasPeer(name))
        return "there is no pppd peer of that name in " + places_.peersFolder;
    return Start(places_.pon, name);
}

std::string Pppd::HangUp(const std::string& name) const
{
    if (HasPeer(name) || (IsPeerNameForPon(name) && IsRunning(name)))
        return Start(places_.poff, name);
    return {};
}

std::string Pppd::Start(const std::string& program, const std::string& name) const
{
    if (!programs_.Find(program))
        return program + " was not found (the ppp package installs it)";
    if (!programs_.StartDetached({program, name}, StartAs::SystemTool))
        return program + " could not be started";
    return {};
}

bool Pppd::IsRunning(const std::string& name) const
{
    const std::vector<std::string> running = RunningPeers();
    return std::find(running.begin(), running.end(), name) != running.end();
}

}  // namespace vel::platform
