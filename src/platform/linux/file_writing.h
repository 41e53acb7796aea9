// Opening and writing files on Linux: in a folder that other users may write
// (a shared program folder), nobody else's symbolic link is followed and only
// regular files are opened, without blocking; no file is ever left half
// written: every write carried to its end, and a file replaced by a whole new
// one in one rename. LinuxEnvironment (the log, its moves) and
// LinuxProfileFile (the settings) share these.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/environment.h"

namespace vel::platform {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over: it is no longer closed here.
    int Release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now; false when the close reports an error (a late write error).
    bool Close();

private:
    int fd_;
};

// errno's number and its description.
SystemError ErrorOf(int number);

// The folder part of a path: "." for a bare name, "/" for a name in the root.
std::string FolderOf(const std::string& path);

// Writes all `size` bytes, again after a signal or a short write; false on
// an error (errno says which).
bool WriteAll(int fd, const char* data, std::size_t size);
// The same at `offset`, without moving the file position.
bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset);

// The files at our names, and how links are followed: a symbolic link at a
// name is followed only when the link belongs to this process's user (its
// effective uid, so root's own when root runs the program), and so on for a
// link it leads to; the file at the end of links must be the user's too.
// Anything else is refused with EPERM, so that nobody who may write the folder
// can make a run write, move or read a file of the user's elsewhere. A file
// at the name itself, not reached through a link, may be anyone's. Each link
// is read from the link that was checked (opened as itself, never by name
// twice), so that swapping links in between wins nothing.

// Whose files at our names may be used.
enum class FileOwner {
    // As above: the file at the name itself anyone's, through a link only
    // the user's.
    AsReached,
    // Only the user's own, with no other hard link, however reached: a run
    // as root (the machine's log) never writes through a name that another
    // user put in a folder they may write, nor into a file linked there.
    UserAlone,
};

// Opens a file at `path` as open(2) would with `flags` (and `mode` with
// O_CREAT), links followed by the rule above. Only a regular file is opened:
// the open does not block (a named pipe with nobody at the other end), and a
// folder is EISDIR, a pipe, device or socket EINVAL, at once. `where`: the
// path the file lies at (the name itself, or where the last link leads), also
// when the open fails there, for a missing file. -1 and `error` on failure.
int OpenOwnFile(const std::string& path, int flags, mode_t mode, std::string* where, SystemError& error,
                FileOwner owner = FileOwner::AsReached);

// Where a name finally leads by the same rule (the name itself when it is no
// link); the place may hold nothing (yet). What is there when reached through
// a link must be the user's regular file (by `owner`'s rule, any regular
// file there). nullopt and `error` when refused.
std::optional<std::string> ResolveOwnLinks(const std::string& path, SystemError& error,
                                           FileOwner owner = FileOwner::AsReached);

// Flushes a folder's entries (a rename, a new or removed name) to the disk.
void SyncFolder(const std::string& folder);

enum class ReplaceOutcome { Replaced, NoTemporaryFile, Failed };

// Replaces `target` by a new file: a temporary file beside it (in the same
// folder, so on the same file system) is filled by `fill`, flushed to the
// disk and renamed over `target`, then the folder is flushed. `target` is
// thus the whole new file or its old self, never half of either; a failure
// removes the temporary file. `original`: the file replaced, whose owner
// (where allowed) and permissions the new one takes; null for a new file.
// NoTemporaryFile: the folder takes no new file. `error` says why it failed.
// The temporary file is locked (flock) until it has been renamed; one whose
// lock is free was left by a replacement that was killed, and the next
// replacement of the same target removes it (never one that is in use).
ReplaceOutcome ReplaceFileWhole(const std::string& target, const std::function<bool(int fd)>& fill,
                                const struct stat* original, SystemError& error);

}  // namespace vel::platform
