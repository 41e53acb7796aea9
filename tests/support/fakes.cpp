#include "support/fakes.h"

#include <cerrno>

#include "common/ini_text.h"
#include "common/text.h"
#include "support/entry_name_cases.h"

namespace vel::test {

namespace {

class MemoryFile : public platform::OutputFile {
public:
    MemoryFile(FakeEnvironment& env, std::string path) : env_(env), path_(std::move(path)) {}
    bool Write(const std::string& bytes, platform::SystemError& error) override
    {
        if (!env_.MayWrite(bytes.size(), error))
            return false;
        if (!locked_)
            ++env_.unlockedWrites;
        env_.files[path_] += bytes;
        return true;
    }
    platform::LockResult TryLock(bool exclusive, platform::SystemError&) override
    {
        ++env_.lockAttempts;
        const platform::LockResult result = env_.onLock ? env_.onLock(exclusive) : platform::LockResult::Locked;
        locked_ = result == platform::LockResult::Locked;
        return result;
    }
    void Unlock() override { locked_ = false; }
    std::int64_t Size() override { return static_cast<std::int64_t>(env_.files[path_].size()); }

private:
    FakeEnvironment& env_;
    std::string path_;
    bool locked_ = false;
};

platform::SystemError AccessDenied()
{
    return {EACCES, "Permission denied"};
}

}  // namespace

bool FakeEnvironment::MayWrite(std::size_t bytes, platform::SystemError& error)
{
    if (!writable) {
        error = AccessDenied();
        return false;
    }
    if (writeBudget >= 0) {
        if (static_cast<long long>(bytes) > writeBudget) {
            error = {ENOSPC, "No space left on device"};
            return false;
        }
        writeBudget -= static_cast<long long>(bytes);
    }
    return true;
}

platform::ProcessFacts FakeEnvironment::Process()
{
    platform::ProcessFacts facts{
        {},
        {programFolder, logFolder.empty() ? programFolder : logFolder, "/", stateFolder, metricsFolder},
        errorStream};
    for (std::string_view word : SplitAtBlanksAndTabs(commandLine))
        facts.arguments.emplace_back(word);
    return facts;
}

std::optional<std::string> FakeEnvironment::ReadFileBytes(const std::string& path, std::size_t limit,
                                                          platform::SystemError& error)
{
    if (!IsOrdinaryFile(path)) {
        error = {ENOENT, "No such file or directory"};
        return std::nullopt;
    }
    return files[path].substr(0, limit);
}

bool FakeEnvironment::ReplaceFileBytes(const std::string& path, const std::string& bytes, platform::SystemError& error)
{
    if (folders.count(path) != 0) {
        error = {EISDIR, "Is a directory"};
        return false;
    }
    if (!MayWrite(bytes.size(), error))
        return false;
    files[path] = bytes;
    replaced.push_back(path);
    return true;
}

platform::SystemEventResult FakeEnvironment::WriteSystemEvent(const platform::SystemEvent& event,
                                                              platform::SystemError& error)
{
    if (eventResult == platform::SystemEventResult::Failed)
        error = {1502, "The event log file is full."};
    if (eventResult == platform::SystemEventResult::Written)
        events.push_back(event);
    return eventResult;
}

std::optional<std::int64_t> FakeEnvironment::OrdinaryFileSize(const std::string& path)
{
    if (files.count(path) == 0 || folders.count(path) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(files[path].size());
}

bool FakeEnvironment::MoveFileTo(const std::string& from, const std::string& to, platform::SystemError& error)
{
    if (!IsOrdinaryFile(from)) {
        error = {ENOENT, "No such file or directory"};
        return false;
    }
    if (folders.count(to)) {
        error = {EISDIR, "Is a directory"};
        return false;
    }
    if (!writable) {
        error = AccessDenied();
        return false;
    }
    files[to] = files[from];
    files.erase(from);
    moves.emplace_back(from, to);
    return true;
}

bool FakeEnvironment::RemoveFile(const std::string& path)
{
    if (!IsOrdinaryFile(path) || !writable)
        return false;
    files.erase(path);
    return true;
}

std::unique_ptr<platform::OutputFile> FakeEnvironment::OpenAppend(const std::string& path, platform::SystemError& error)
{
    if (folders.count(path)) {
        error = {EISDIR, "Is a directory"};
        return nullptr;
    }
    if (!writable) {
        error = AccessDenied();
        return nullptr;
    }
    files[path];  // created when missing
    return std::make_unique<MemoryFile>(*this, path);
}

bool FakeEnvironment::StartSystemInformation()
{
    if (!systemInformationProgram || systemInformationProgram->empty())
        return false;
    startedPrograms.push_back({*systemInformationProgram});
    return startProgramResult;
}

std::optional<std::string> FakeProfileFile::Value(const std::string& section, const std::string& key,
                                                  const std::string& file)
{
    if (!env_.IsOrdinaryFile(file) || unusable.count(file))
        return std::nullopt;
    std::string text = env_.files[file];
    if (text.size() > sizeLimit_) {
        // Only the whole lines within the limit count.
        text.resize(sizeLimit_);
        const std::size_t lastBreak = text.find_last_of("\r\n");
        text.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
    }
    return ini::ReadValue(text, section, key);
}

bool FakeProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                  const std::string& file, platform::SystemError& error)
{
    if (env_.folders.count(file)) {
        error = {EISDIR, "Is a directory"};
        return false;
    }
    if (!env_.writable) {
        error = AccessDenied();
        return false;
    }
    if (unusable.count(file)) {
        error = {EPERM, unusable[file]};
        return false;
    }
    const std::string current = env_.IsOrdinaryFile(file) ? env_.files[file] : std::string();
    if (current.size() > sizeLimit_) {
        error = {EFBIG, "File too large"};
        return false;
    }
    env_.files[file] = ini::WriteValue(current, section, key, value);
    ++writes;
    return true;
}

std::string FakeProfileFile::EncodingProblem(const std::string& file)
{
    return env_.IsOrdinaryFile(file) ? ini::EncodingProblem(env_.files[file]) : std::string();
}

bool FakeProfileFile::Usable(const std::string& file, platform::SystemError& why)
{
    if (!unusable.count(file))
        return true;
    why = {EPERM, unusable[file]};
    return false;
}

void FakeSocket::Connect(const std::string& host, int port, platform::SocketHandler handler)
{
    if (open)
        Close();
    remoteHost = host;
    remotePort = port;
    handler_ = std::move(handler);
    open = true;
    connected_ = false;
    pending_.clear();
    ++connects;
    Notify({platform::SocketEvent::Kind::Connecting, {}});
    if (onConnect)
        onConnect(*this, connects);
}

std::string FakeSocket::GetData(std::size_t maxBytes)
{
    lastReadLimit = maxBytes;
    std::string data = pending_.substr(0, maxBytes);
    pending_.erase(0, data.size());
    return data;
}

void FakeSocket::Close()
{
    if (open)
        ++closes;
    open = false;
    handler_ = nullptr;
}

void FakeSocket::DeliverConnected(bool retried)
{
    if (!open || connected_)
        return;
    connected_ = true;
    platform::SocketEvent connected{platform::SocketEvent::Kind::Connected, {}};
    connected.handshakeRetried = retried;
    const auto address = addresses.find(remoteHost);
    connected.address = address == addresses.end() ? remoteHost : address->second;
    Notify(connected);
}

void FakeSocket::DeliverData(const std::string& data)
{
    if (!open)
        return;  // the peer's data after our close is lost
    // As every socket: no data before the handshake's end.
    DeliverConnected();
    if (!open)
        return;
    pending_ += data;
    Notify({platform::SocketEvent::Kind::DataArrived, {}});
    pump_.Wake();
}

void FakeSocket::DeliverError(platform::SocketFailure failure, const std::string& description, int systemNumber)
{
    if (!open)
        return;
    Notify({platform::SocketEvent::Kind::Failed, {failure, description, systemNumber}});
    pump_.Wake();
}

void FakeSocket::Notify(const platform::SocketEvent& event)
{
    // A copy: the handler may close the socket, which forgets handler_.
    const platform::SocketHandler handler = handler_;
    if (handler)
        handler(event);
}

void FakeDatagramSocket::Open(const std::string& host, int port, platform::DatagramHandler handler)
{
    Close();
    remoteHost = host;
    remotePort = port;
    handler_ = std::move(handler);
    open = true;
    pending_.clear();
    const int opened = ++opens;
    pump_.Post([this, opened, host] {
        if (!open || opens != opened)
            return;
        if (unknownHosts.count(host) != 0)
            DeliverError(platform::SocketFailure::HostNotFound, "Host not found");
        else
            Notify({platform::DatagramEvent::Kind::Ready, {}});
    });
}

bool FakeDatagramSocket::Send(const std::string& bytes, platform::SocketError&)
{
    sent.push_back(bytes);
    if (onSend) {
        onSend(*this, bytes);
    } else {
        // Nobody listens there: the peer's system says so at once.
        const int opened = opens;
        pump_.Post([this, opened] {
            if (opens == opened)
                DeliverError(platform::SocketFailure::Refused, "Connection refused");
        });
    }
    return true;
}

std::optional<std::string> FakeDatagramSocket::Receive(std::size_t maxBytes)
{
    lastReadLimit = maxBytes;
    if (pending_.empty())
        return std::nullopt;
    std::string datagram = pending_.front().substr(0, maxBytes);
    pending_.erase(pending_.begin());
    return datagram;
}

void FakeDatagramSocket::Close()
{
    if (open)
        ++closes;
    open = false;
    handler_ = nullptr;
    pending_.clear();
}

void FakeDatagramSocket::DeliverDatagram(const std::string& bytes)
{
    if (!open)
        return;
    pending_.push_back(bytes);
    Notify({platform::DatagramEvent::Kind::Arrived, {}});
    pump_.Wake();
}

void FakeDatagramSocket::DeliverError(platform::SocketFailure failure, const std::string& description)
{
    if (!open)
        return;
    Notify({platform::DatagramEvent::Kind::Failed, {failure, description, 0}});
    pump_.Wake();
}

void FakeDatagramSocket::Notify(const platform::DatagramEvent& event)
{
    const platform::DatagramHandler handler = handler_;
    if (handler)
        handler(event);
}

bool FakeDialUp::SameEntryNameIgnoringCase(const std::string& a, const std::string& b)
{
    for (const EntryNameCase& c : kEntryNameCases)
        if ((a == c.a && b == c.b) || (a == c.b && b == c.a))
            return kWindows ? c.onWindows : c.onLinux;
    return ToLower(a) == ToLower(b);
}

std::string FakeDialUp::StartDialer(const std::string& entry)
{
    if (std::string failure = refusal ? refusal(entry) : std::string(); !failure.empty())
        return failure;
    dialled.push_back(entry);
    if (onStartDialer)
        onStartDialer(entry);
    return {};
}

std::string FakeDialUp::HangUp(const std::string& entry)
{
    if (std::string failure = hangUpFailure ? hangUpFailure(entry) : std::string(); !failure.empty())
        return failure;
    hungUp.push_back(entry);
    if (onHangUp)
        onHangUp(entry);
    return {};
}

void FakeDialUp::SetModemUp(const std::string& entry)
{
    state = {.online = true, .modem = true};
    linkUp = true;
    active = {entry};
}

}  // namespace vel::test
