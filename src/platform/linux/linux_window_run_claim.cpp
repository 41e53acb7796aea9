#include "platform/linux/linux_window_run_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vel::platform {

namespace {

// The runtime folder only when it is the user's alone (no one else can plant
// or take the lock or the socket there).
std::string UsableFolder(const std::string& folder)
{
    struct stat status {};
    if (folder.empty() || folder[0] != '/' || ::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    return folder;
}

// Fills a socket address; false when the path does not fit.
bool SocketAddress(const std::string& path, sockaddr_un& address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

LinuxWindowRunClaim::LinuxWindowRunClaim(std::string runtimeFolder) : runtimeFolder_(UsableFolder(runtimeFolder))
{}

LinuxWindowRunClaim::~LinuxWindowRunClaim()
{
    notifier_.reset();
    if (listener_ >= 0)
        ::close(listener_);
    if (lock_ >= 0)
        ::close(lock_);
}

std::string LinuxWindowRunClaim::PathFor(const std::string& folder, const std::string& suffix) const
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
    return runtimeFolder_ + "/veltrane-" + key.toStdString() + suffix;
}

ClaimResult LinuxWindowRunClaim::Claim(const std::string& folder, std::function<void()> comeToFront)
{
    if (TryClaim(folder, std::move(comeToFront)))
        return ClaimResult::Claimed;
    return AskHolderToFront(folder) ? ClaimResult::HolderBroughtToFront : ClaimResult::HolderNotReached;
}

bool LinuxWindowRunClaim::TryClaim(const std::string& folder, std::function<void()> comeToFront)
{
    comeToFront_ = std::move(comeToFront);
    const std::string lockPath = PathFor(folder, ".lock");
    if (lockPath.empty())
        return true;  // nothing to coordinate with
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (lock < 0)
        return true;
    if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(lock);
        return !held;
    }
    if (lock_ >= 0)
        ::close(lock_);
    lock_ = lock;
    Listen(PathFor(folder, ".socket"));
    return true;
}

void LinuxWindowRunClaim::Listen(const std::string& socketPath)
{
    sockaddr_un address;
    if (!SocketAddress(socketPath, address))
        return;
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0)
        return;
    // A socket left by an earlier holder: whoever holds the lock owns the name.
    ::unlink(socketPath.c_str());
    if (::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(socketPath.c_str(), 0600) != 0 || ::listen(listener, 8) != 0) {
        ::close(listener);
        return;
    }
    listener_ = listener;
    notifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { AcceptRequests(); });
}

void LinuxWindowRunClaim::AcceptRequests()
{
    bool asked = false;
    for (int connection; (connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        ::close(connection);
        asked = true;
    }
    if (asked && comeToFront_)
        comeToFront_();
}

bool LinuxWindowRunClaim::AskHolderToFront(const std::string& folder)
{
    sockaddr_un address;
    if (!SocketAddress(PathFor(folder, ".socket"), address))
        return false;
    const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (connection < 0)
        return false;
    const bool reached = ::connect(connection, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(connection);
    return reached;
}

}  // namespace vel::platform
