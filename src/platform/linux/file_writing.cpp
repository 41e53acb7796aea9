#include "platform/linux/file_writing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace vel::platform {

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool FileDescriptor::Close()
{
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
}

SystemError ErrorOf(int number)
{
    return {number, std::strerror(number)};
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<off_t>(n);
    }
    return true;
}

namespace {

// Links followed one after the other, at most (the kernel's own bound).
constexpr int kMaxLinks = 40;

SystemError NotARegularFile()
{
    return {EINVAL, "not a regular file"};
}

enum class LinkStep { NotALink, Link, Missing, Refused };

// Looks at what is at `path` itself, without following it. A link that is
// the user's gives its target in `next` (relative targets taken from the
// link's folder); the link is opened as itself and read through that
// descriptor, so the target is the one of the link whose owner was checked.
// NotALink: `info` describes what is there.
LinkStep ReadOwnLink(const std::string& path, std::string& next, struct stat& info, SystemError& error)
{
    FileDescriptor link(::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!link.valid()) {
        if (errno == ENOENT)
            return LinkStep::Missing;
        error = ErrorOf(errno);
        return LinkStep::Refused;
    }
    if (::fstat(link.get(), &info) != 0) {
        error = ErrorOf(errno);
        return LinkStep::Refused;
    }
    if (!S_ISLNK(info.st_mode))
        return LinkStep::NotALink;
    if (info.st_uid != ::geteuid()) {
        error = {EPERM, "a symbolic link that belongs to another user"};
        return LinkStep::Refused;
    }
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(link.get(), "", target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) {
        error = ErrorOf(n < 0 ? errno : ENAMETOOLONG);
        return LinkStep::Refused;
    }
    next.assign(target, static_cast<std::size_t>(n));
    if (next.front() != '/')
        next = FolderOf(path) + "/" + next;
    return LinkStep::Link;
}

bool OwnedHere(const struct stat& info, int depth, FileOwner owner, SystemError& error)
{
    if (owner == FileOwner::UserAlone && S_ISREG(info.st_mode)) {
        if (info.st_uid != ::geteuid())
            error = {EPERM, "a file that belongs to another user"};
        else if (info.st_nlink != 1)
            error = {EPERM, "a file with more than one link (a hard link)"};
        return info.st_uid == ::geteuid() && info.st_nlink == 1;
    }
    if (depth == 0 || info.st_uid == ::geteuid())
        return true;
    error = {EPERM, "a symbolic link to another user's file"};
    return false;
}

}  // namespace

int OpenOwnFile(const std::string& path, int flags, mode_t mode, std::string* where, SystemError& error,
                FileOwner owner)
{
    std::string current = path;
    for (int depth = 0; depth <= kMaxLinks; ++depth) {
        if (where != nullptr)
            *where = current;
        FileDescriptor fd(::open(current.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, mode));
        if (fd.valid()) {
            struct stat info {};
            if (::fstat(fd.get(), &info) != 0) {
                error = ErrorOf(errno);
                return -1;
            }
            if (!S_ISREG(info.st_mode)) {
                error = S_ISDIR(info.st_mode) ? ErrorOf(EISDIR) : NotARegularFile();
                return -1;
            }
            if (!OwnedHere(info, depth, owner, error))
                return -1;
            // A regular file never blocks; later reads and writes need no flag.
            ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
            return fd.Release();
        }
        if (errno == ENXIO) {  // a pipe or socket with nobody at the other end
            error = NotARegularFile();
            return -1;
        }
        if (errno != ELOOP) {
            error = ErrorOf(errno);
            return -1;
        }
        std::string next;
        struct stat info {};
        switch (ReadOwnLink(current, next, info, error)) {
            case LinkStep::Link:
                current = next;
                break;
            case LinkStep::Missing:  // gone meanwhile: look again
                break;
            case LinkStep::NotALink:  // too many links on the way through its folders
                error = ErrorOf(ELOOP);
                return -1;
            case LinkStep::Refused:
                return -1;
        }
    }
    error = ErrorOf(ELOOP);
    return -1;
}

std::optional<std::string> ResolveOwnLinks(const std::string& path, SystemError& error, FileOwner owner)
{
    std::string current = path;
    for (int depth = 0; depth <= kMaxLinks; ++depth) {
        std::string next;
        struct stat info {};
        switch (ReadOwnLink(current, next, info, error)) {
            case LinkStep::Missing:
                return current;
            case LinkStep::NotALink:
                if (depth > 0 && !S_ISREG(info.st_mode)) {
                    error = NotARegularFile();
                    return std::nullopt;
                }
                if (!OwnedHere(info, depth, owner, error))
                    return std::nullopt;
                return current;
            case LinkStep::Link:
                current = next;
                break;
            case LinkStep::Refused:
                return std::nullopt;
        }
    }
    error = ErrorOf(ELOOP);
    return std::nullopt;
}

void SyncFolder(const std::string& folder)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

namespace {

// Removes the temporary files (names beginning with `prefix`) that replacements
// killed before their rename left in `folder`. A replacement holds its
// temporary file's lock until the rename, and a lock ends with its process: a
// file whose lock can be taken is nobody's. The name must still be that file
// when it is removed (another clean-up may have been first). Where the file
// system keeps no locks, nothing is removed.
void RemoveAbandonedTemporaries(const std::string& folder, const std::string& prefix)
{
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr)
        return;
    const int dirFd = ::dirfd(listing);
    while (const struct dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        FileDescriptor fd(::openat(dirFd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat opened {
        }, named{};
        if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino)
            ::unlinkat(dirFd, name.c_str(), 0);
    }
    ::closedir(listing);
}

}  // namespace

ReplaceOutcome ReplaceFileWhole(const std::string& target, const std::function<bool(int fd)>& fill,
                                const struct stat* original, SystemError& error)
{
    const std::size_t slash = target.rfind('/');
    const std::string folder = FolderOf(target);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) {
        error = ErrorOf(EISDIR);
        return ReplaceOutcome::Failed;
    }

    const std::string prefix = "." + base + ".tmp-";
    RemoveAbandonedTemporaries(folder, prefix);

    // A hidden name of this process's own; O_EXCL never takes another's file.
    // Its lock is taken at once and kept (on a second descriptor of the same
    // open file) until the rename; a clean-up that took the lock first
    // removes the file, so then another name is tried.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int created = -1;
    for (int attempt = 0; attempt < 100 && created < 0; ++attempt) {
        temporary = folder + "/" + prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        created = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (created < 0) {
            if (errno != EEXIST) {
                error = ErrorOf(errno);
                return ReplaceOutcome::NoTemporaryFile;
            }
            continue;
        }
        struct stat opened {
        }, named{};
        const bool locked = ::flock(created, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK;
        if (!locked || ::fstat(created, &opened) != 0 || ::lstat(temporary.c_str(), &named) != 0 ||
            named.st_ino != opened.st_ino || named.st_dev != opened.st_dev) {
            ::close(created);
            created = -1;
        }
    }
    if (created < 0) {
        error = ErrorOf(EEXIST);
        return ReplaceOutcome::NoTemporaryFile;
    }
    FileDescriptor fd(created);
    const FileDescriptor lock(::dup(created));

    bool ok = true;
    if (original != nullptr) {
        if (original->st_uid != ::geteuid() || original->st_gid != ::getegid())
            (void)!::fchown(fd.get(), original->st_uid, original->st_gid);  // where allowed
        ok = ::fchmod(fd.get(), original->st_mode & 07777) == 0;
    }
    ok = ok && fill(fd.get()) && ::fsync(fd.get()) == 0;
    if (!ok)
        error = ErrorOf(errno);
    if (!fd.Close() && ok) {
        error = ErrorOf(errno);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = ErrorOf(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return ReplaceOutcome::Failed;
    }
    SyncFolder(folder);
    return ReplaceOutcome::Replaced;
}

}  // namespace vel::platform
