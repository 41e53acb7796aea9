#include "platform/linux/file_writing.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
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

void SyncFolder(const std::string& folder)
{
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

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

    // A hidden name of this process's own; O_EXCL never takes another's file.
    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int created = -1;
    for (int attempt = 0; attempt < 100 && created < 0; ++attempt) {
        temporary = folder + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        created = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (created < 0 && errno != EEXIST) {
            error = ErrorOf(errno);
            return ReplaceOutcome::NoTemporaryFile;
        }
    }
    if (created < 0) {
        error = ErrorOf(EEXIST);
        return ReplaceOutcome::NoTemporaryFile;
    }
    FileDescriptor fd(created);

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
