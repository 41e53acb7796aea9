#include "platform/linux/linux_window_run_claim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/file_writing.h"

namespace vel::platform {

namespace {

// A later start looks again this often while the holder has not listened yet.
constexpr useconds_t kRetryMicroseconds = 20000;

double MonotonicSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The runtime folder only when it is the user's alone (no one else can plant
// or take the lock file there).
std::string UsableFolder(const std::string& folder)
{
    struct stat status {};
    if (folder.empty() || folder[0] != '/' || ::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    return folder;
}

// An address in the abstract namespace (a NUL, then the name); its length,
// 0 when the name does not fit.
socklen_t AbstractAddress(const std::string& name, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (name.empty() || name.size() + 1 > sizeof address.sun_path)
        return 0;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// Whether the process at the other end of a local socket is this user's; its
// process id in `process` (for a listener, the one that listened).
bool SameUser(int connection, std::int64_t* process)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || credentials.uid != ::geteuid())
        return false;
    if (process != nullptr)
        *process = credentials.pid;
    return true;
}

// "veltrane/<uid>/<16 random hex digits>"
std::string RandomName()
{
    unsigned char bytes[8] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // No entropy yet this early in the boot: the time and the process
        // still make a name nobody expects (a taken one is drawn again).
        const auto mixed = static_cast<unsigned long long>(MonotonicSeconds() * 1e9) ^
                           (static_cast<unsigned long long>(::getpid()) << 40);
        std::memcpy(bytes, &mixed, sizeof bytes);
    }
    char name[64];
    int at = std::snprintf(name, sizeof name, "veltrane/%u/", static_cast<unsigned>(::geteuid()));
    for (const unsigned char byte : bytes)
        at += std::snprintf(name + at, sizeof name - static_cast<std::size_t>(at), "%02x", byte);
    return name;
}

// The holder's socket name as it wrote it into the lock file: one line,
// complete only with its line end. Empty while there is none (yet).
std::string ReadName(int lock)
{
    char buffer[128];
    const ssize_t got = ::pread(lock, buffer, sizeof buffer, 0);
    if (got <= 0)
        return {};
    const std::string text(buffer, static_cast<std::size_t>(got));
    const std::size_t end = text.find('\n');
    return end == std::string::npos ? std::string() : text.substr(0, end);
}

}  // namespace

LinuxWindowRunClaim::LinuxWindowRunClaim(std::string runtimeFolder, double answerSeconds)
    : runtimeFolder_(UsableFolder(runtimeFolder)), answerSeconds_(answerSeconds)
{}

LinuxWindowRunClaim::~LinuxWindowRunClaim()
{
    Release();
}

std::string LinuxWindowRunClaim::LockPathFor(const std::string& folder) const
{
    if (runtimeFolder_.empty())
        return {};
    // One folder by any of its names (links, "..").
    std::string canonical = folder;
    if (char* resolved = ::realpath(folder.c_str(), nullptr)) {
        canonical = resolved;
        std::free(resolved);
    }
    const QByteArray key =
        QCryptographicHash::hash(QByteArray::fromStdString(canonical), QCryptographicHash::Sha256).toHex().left(16);
    return runtimeFolder_ + "/veltrane-" + key.toStdString() + ".lock";
}

ClaimOutcome LinuxWindowRunClaim::Claim(const std::string& folder, std::function<void()> comeToFront)
{
    Release();
    comeToFront_ = std::move(comeToFront);
    const std::string lockPath = LockPathFor(folder);
    if (lockPath.empty())
        return {ClaimResult::Claimed};  // nothing to coordinate with
    const double deadline = MonotonicSeconds() + answerSeconds_;
    std::int64_t holder = 0;
    for (;;) {
        if (TryClaim(lockPath) == Attempt::Claimed)
            return {ClaimResult::Claimed};
        const Attempt asked = AskHolder(lockPath, deadline, holder);
        if (asked == Attempt::Answered)
            return {ClaimResult::HolderBroughtToFront, holder};
        if (asked == Attempt::NoAnswer || MonotonicSeconds() >= deadline)
            return {ClaimResult::HolderNotReached, holder};
        // The holder has not listened yet, or is letting go: look again.
        ::usleep(kRetryMicroseconds);
    }
}

LinuxWindowRunClaim::Attempt LinuxWindowRunClaim::TryClaim(const std::string& lockPath)
{
    FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    struct stat status {};
    if (!lock.valid() || ::fstat(lock.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return Attempt::Claimed;  // no lock to take: nothing coordinates
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? Attempt::TryAgain : Attempt::Claimed;
    lock_ = lock.Release();
    // A holder nobody can reach would hold later starts back for nothing:
    // without a socket, the claim is let go at once.
    if (!Listen())
        Release();
    return Attempt::Claimed;
}

bool LinuxWindowRunClaim::Listen()
{
    FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!listener.valid())
        return false;
    std::string name;
    for (int attempt = 0;; ++attempt) {
        name = RandomName();
        sockaddr_un address;
        const socklen_t length = AbstractAddress(name, address);
        if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0)
            break;
        if (errno != EADDRINUSE || attempt == 8)
            return false;
    }
    const std::string line = name + "\n";
    if (::listen(listener.get(), 16) != 0 || ::ftruncate(lock_, 0) != 0 ||
        !WriteAllAt(lock_, line.data(), line.size(), 0))
        return false;
    listener_ = listener.Release();
    notifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { AcceptRequests(); });
    return true;
}

void LinuxWindowRunClaim::AcceptRequests()
{
    std::vector<FileDescriptor> asking;
    for (int connection; (connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        FileDescriptor accepted(connection);
        if (SameUser(accepted.get(), nullptr))  // anyone else's is closed unanswered
            asking.push_back(std::move(accepted));
    }
    if (asking.empty())
        return;
    // Requests waiting together bring the windows once.
    if (comeToFront_)
        comeToFront_();
    for (const FileDescriptor& connection : asking)
        (void)!::send(connection.get(), "1", 1, MSG_NOSIGNAL);
}

LinuxWindowRunClaim::Attempt LinuxWindowRunClaim::AskHolder(const std::string& lockPath, double deadline,
                                                            std::int64_t& holder)
{
    const FileDescriptor lock(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    sockaddr_un address;
    const socklen_t length = lock.valid() ? AbstractAddress(ReadName(lock.get()), address) : 0;
    if (length == 0)
        return Attempt::TryAgain;  // no name written yet
    const FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    // Refused: a name of a holder that has gone; would block: its queue is
    // full (nobody takes requests there).
    if (!connection.valid() || ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0)
        return Attempt::TryAgain;
    if (!SameUser(connection.get(), &holder))
        return Attempt::TryAgain;
    for (;;) {
        const double left = deadline - MonotonicSeconds();
        pollfd ready{connection.get(), POLLIN, 0};
        const int polled = ::poll(&ready, 1, left > 0 ? static_cast<int>(left * 1000) + 1 : 0);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return Attempt::NoAnswer;
        char answer = 0;
        // Closed without an answer: the holder let go meanwhile.
        return ::recv(connection.get(), &answer, 1, 0) == 1 ? Attempt::Answered : Attempt::TryAgain;
    }
}

void LinuxWindowRunClaim::Release()
{
    notifier_.reset();
    if (listener_ >= 0)
        ::close(listener_);
    listener_ = -1;
    if (lock_ >= 0)
        ::close(lock_);
    lock_ = -1;
}

}  // namespace vel::platform
