// Dial-up through pppd: the entries are the peers in /etc/ppp/peers; a dial
// is `pon NAME`, a hang-up `poff NAME` (started with an argument vector,
// never through a shell, and not waited for); an active connection is a
// running `pppd call NAME`.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/program_runner.h"

namespace vel::platform {

// Why pon and poff would not pass the name through intact (a sentence for
// the log), empty when they would: they hand it on unquoted, so a blank, a
// wildcard, a backslash or a control character would split or change it, a
// leading '-' would make it an option and a '/' leave the peers folder.
std::string PonNameProblem(std::string_view name);
bool IsPeerNameForPon(std::string_view name);

// The peer of a process's command line (the NUL-separated text of
// /proc/<pid>/cmdline) when it is `pppd ... call NAME ...`.
std::optional<std::string> PeerOfPppdCommandLine(std::string_view commandLine);

// Where pppd's pieces are.
struct PppdPlaces {
    std::string peersFolder;  // one file per peer
    std::string procRoot;     // <pid>/cmdline of the running processes
    std::string pon;          // the programs, found as ProgramRunner finds them
    std::string poff;
};

class Pppd {
public:
    Pppd(PppdPlaces places, ProgramRunner programs);

    // pon is there, or the peers folder is.
    bool Installed() const;

    // The peers pon can dial as they are named, sorted (editor backups left out).
    std::vector<std::string> Peers() const;
    bool HasPeer(const std::string& name) const;
    // A file of that name is in the peers folder, whether pon can take the
    // name or not.
    bool HasPeerFile(const std::string& name) const;

    // The peers of the running `pppd call NAME`, in process order, each once.
    std::vector<std::string> RunningPeers() const;

    // `pon NAME` for a peer of the folder; `poff NAME` for a peer of the
    // folder or one still running. Nothing for a name pon cannot take: poff
    // with no name, or with an option, would stop every pppd. Empty when the
    // program was started (or, for poff, nothing of that name is there),
    // else why not.
    std::string Dial(const std::string& name) const;
    std::string HangUp(const std::string& name) const;

    const std::string& PeersFolder() const { return places_.peersFolder; }

private:
    bool IsRunning(const std::string& name) const;
    std::string Start(const std::string& program, const std::string& name) const;

    PppdPlaces places_;
    ProgramRunner programs_;
};

}  // namespace vel::platform
