// Writing files on Linux so that none is ever left half written: every write
// carried to its end, and a file replaced by a whole new one in one rename.
// LinuxEnvironment (the log, its moves) and LinuxProfileFile (the settings)
// share these.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
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
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
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
ReplaceOutcome ReplaceFileWhole(const std::string& target, const std::function<bool(int fd)>& fill,
                                const struct stat* original, SystemError& error);

}  // namespace vel::platform
