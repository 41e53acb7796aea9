// In-memory stand-ins for the platform: files, INI files, a socket, dial-up
// networking and the shell.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/datagram_socket.h"
#include "platform/dialup.h"
#include "platform/environment.h"
#include "platform/event_pump.h"
#include "platform/profile_file.h"
#include "platform/shell.h"
#include "platform/socket.h"
#include "platform/window_run_claim.h"

namespace vel::test {

// Files in memory. Paths are plain strings; the program folder is "/app".
class FakeEnvironment : public platform::Environment {
public:
    std::string commandLine;  // the arguments, each without blanks, joined by blanks
    std::string programFolder = "/app";
    std::string logFolder;                     // empty: the program folder
    std::map<std::string, std::string> files;  // path -> content
    std::set<std::string> folders;             // paths that are folders, not files
    bool writable = true;                      // false: every write fails with EACCES
    // A write that would take the file's total written bytes beyond this fails
    // (a full disk). Negative: no limit.
    long long writeBudget = -1;
    std::optional<std::string> systemInformationProgram;  // the platform's, by full path
    std::vector<std::vector<std::string>> startedPrograms;
    bool startProgramResult = true;

    // The log's advisory lock as other runs hold it: what each TryLock
    // answers (unset: Locked). Every attempt and every write made without
    // the lock is counted.
    std::function<platform::LockResult(bool exclusive)> onLock;
    int lockAttempts = 0;
    int unlockedWrites = 0;
    std::vector<std::pair<std::string, std::string>> moves;  // from, to

    // Standard error: where it goes, and what was written there.
    platform::ErrorStream errorStream = platform::ErrorStream::Terminal;
    std::string standardError;
    std::string standardOutput;
    // The machine's state and metrics folders (empty: none).
    std::string stateFolder;
    std::string metricsFolder;
    // Files replaced whole, in order; the system's event log: what it
    // answers, and what was written to it.
    std::vector<std::string> replaced;
    platform::SystemEventResult eventResult = platform::SystemEventResult::NotSupported;
    std::vector<platform::SystemEvent> events;

    platform::ProcessFacts Process() override;
    void WriteStandardError(const std::string& text) override { standardError += text; }
    void WriteStandardOutput(const std::string& text) override { standardOutput += text; }
    std::optional<std::string> ReadFileBytes(const std::string& path, std::size_t limit,
                                             platform::SystemError& error) override;
    bool ReplaceFileBytes(const std::string& path, const std::string& bytes, platform::SystemError& error) override;
    bool IsFolder(const std::string& path) override { return folders.count(path) != 0; }
    platform::SystemEventResult WriteSystemEvent(const platform::SystemEvent& event,
                                                 platform::SystemError& error) override;
    std::optional<std::int64_t> OrdinaryFileSize(const std::string& path) override;
    bool MoveFileTo(const std::string& from, const std::string& to, platform::SystemError& error) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<platform::OutputFile> OpenAppend(const std::string& path, platform::SystemError& error) override;
    // Starts systemInformationProgram (recorded in startedPrograms); a tool
    // named without a path, as a back end's, starts nothing.
    bool StartSystemInformation() override;

    // Whether a write of `bytes` more may go ahead; spends the budget.
    bool MayWrite(std::size_t bytes, platform::SystemError& error);
};

// INI files over FakeEnvironment's files, with the program's own INI rules.
class FakeProfileFile : public platform::ProfileFile {
public:
    explicit FakeProfileFile(FakeEnvironment& env) : env_(env) {}
    std::optional<std::string> Value(const std::string& section, const std::string& key,
                                     const std::string& file) override;
    using platform::ProfileFile::WriteString;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file, platform::SystemError& error) override;
    bool Usable(const std::string& file, platform::SystemError& why) override;
    std::string EncodingProblem(const std::string& file) override;
    // Beyond this a file is read only in part and never written.
    void SetSizeLimit(std::size_t bytes) { sizeLimit_ = bytes; }
    int writes = 0;
    // Files that are there but must not be used, with the reason.
    std::map<std::string, std::string> unusable;

private:
    FakeEnvironment& env_;
};

// A socket whose peer the test plays. `onConnect` runs at each Connect (the
// attempt number counts from 1); it usually schedules DeliverData or
// DeliverError on the pump.
class FakeSocket : public platform::Socket {
public:
    explicit FakeSocket(platform::EventPump& pump) : pump_(pump) {}

    void Connect(const std::string& host, int port, platform::SocketHandler handler) override;
    std::string GetData(std::size_t maxBytes) override;
    void Close() override;

    // The peer's side: the handshake's answer (Connect itself reports the
    // handshake's start; `retried`: a packet of it was sent again; data
    // delivers it first where the peer did not), data arrives (event raised
    // at once, inside the pump), or the connection fails.
    void DeliverConnected(bool retried = false);
    void DeliverData(const std::string& data);
    void DeliverError(platform::SocketFailure failure, const std::string& description, int systemNumber = 0);

    std::function<void(FakeSocket& socket, int attempt)> onConnect;
    // The address DeliverConnected reports for a host; one not listed is
    // reached at its own name.
    std::map<std::string, std::string> addresses;
    std::string remoteHost;
    int remotePort = 0;
    int connects = 0;
    int closes = 0;
    bool open = false;
    std::size_t lastReadLimit = 0;

private:
    void Notify(const platform::SocketEvent& event);

    platform::EventPump& pump_;
    platform::SocketHandler handler_;
    std::string pending_;
    bool connected_ = false;  // this connection's handshake has been answered
};

// A UDP socket whose peer the test plays. Open answers Ready from the pump
// (Failed with HostNotFound for a host of `unknownHosts`); every Send is
// recorded and handed to `onSend`, which usually schedules DeliverDatagram;
// without one nobody listens, and the peer's system refuses (10061) at once.
class FakeDatagramSocket : public platform::DatagramSocket {
public:
    explicit FakeDatagramSocket(platform::EventPump& pump) : pump_(pump) {}

    void Open(const std::string& host, int port, platform::DatagramHandler handler) override;
    bool Send(const std::string& bytes, platform::SocketError& error) override;
    std::optional<std::string> Receive(std::size_t maxBytes) override;
    void Close() override;

    // The peer's side: a datagram arrives (event raised at once, inside the
    // pump), or the system reports a failure. Nothing reaches a closed socket.
    void DeliverDatagram(const std::string& bytes);
    void DeliverError(platform::SocketFailure failure, const std::string& description);

    std::function<void(FakeDatagramSocket& socket, const std::string& bytes)> onSend;
    std::set<std::string> unknownHosts;
    std::string remoteHost;
    int remotePort = 0;
    int opens = 0;
    int closes = 0;
    bool open = false;
    std::vector<std::string> sent;
    std::size_t lastReadLimit = 0;

private:
    void Notify(const platform::DatagramEvent& event);

    platform::EventPump& pump_;
    platform::DatagramHandler handler_;
    std::vector<std::string> pending_;
};

// Dial-up networking whose state the test sets. `onStartDialer` and
// `onHangUp` let a test make links come and go.
class FakeDialUp : public platform::DialUpNetworking {
public:
    platform::ConnectionState state;
    bool linkUp = false;
    std::vector<std::string> active;
    std::vector<std::string> entries;
    std::string defaultEntry;
    std::vector<std::string> dialled;
    std::vector<std::string> hungUp;
    std::function<void(const std::string&)> onStartDialer;
    std::function<void(const std::string&)> onHangUp;
    // Why StartDialer or HangUp did not start for a name (empty: they did;
    // only started ones are recorded and passed on).
    std::function<std::string(const std::string&)> refusal;
    std::function<std::string(const std::string&)> hangUpFailure;
    // Handed out, and emptied, by the next TakeWarnings.
    std::vector<std::string> warnings;

    platform::ConnectionState GetConnectionState() override { return state; }
    platform::ActiveDialUp GetActiveDialUp() override { return {active, linkUp}; }
    platform::Phonebook GetPhonebook() override { return {entries, defaultEntry}; }
    // As this build's system answers for the names of kEntryNameCases;
    // other names match without regard to ASCII case.
    bool SameEntryNameIgnoringCase(const std::string& a, const std::string& b) override;
    std::string StartDialer(const std::string& entry) override;
    std::string HangUp(const std::string& entry) override;
    std::vector<std::string> TakeWarnings() override { return std::exchange(warnings, {}); }

    // Helpers for the usual states.
    void SetLan() { state = {.online = true, .lan = true}; }
    void SetOffline() { state = {.offline = true}; }
    void SetModemUp(const std::string& entry);
};

// Window runs of other processes: the folders they hold, and what this one
// asked of them. `comeToFront` is what a later start would set off here.
class FakeWindowRunClaim : public platform::WindowRunClaim {
public:
    std::set<std::string> heldElsewhere;
    bool holderAnswers = true;
    std::int64_t holderProcess = 4321;
    std::vector<std::string> claimed;
    std::vector<std::string> asked;
    std::function<void()> comeToFront;
    bool held = false;  // this process holds a claim now
    int releases = 0;   // claims given up while held

    platform::ClaimOutcome Claim(const std::string& folder, std::function<void()> handler) override
    {
        if (heldElsewhere.count(folder) != 0) {
            asked.push_back(folder);
            return {
                holderAnswers ? platform::ClaimResult::HolderBroughtToFront : platform::ClaimResult::HolderNotReached,
                holderProcess};
        }
        claimed.push_back(folder);
        comeToFront = std::move(handler);
        held = true;
        return {platform::ClaimResult::Claimed};
    }
    void Release() override
    {
        releases += held ? 1 : 0;
        held = false;
        comeToFront = nullptr;
    }
};

class FakeShell : public platform::Shell {
public:
    bool result = true;
    std::vector<std::string> opened;
    bool Open(const std::string& target) override
    {
        opened.push_back(target);
        return result;
    }
};

}  // namespace vel::test
