#include "platform/linux/linux_profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/ini_text.h"
#include "platform/linux/file_writing.h"
#include "platform/linux/linux_stop_signals.h"

namespace vel::platform {
namespace {

enum class ReadOutcome { Read, Missing, Failed };

// An ordinary file's text, at most `limit` bytes of it. `whole` tells
// whether that was the whole file.
struct FileText {
    ReadOutcome outcome = ReadOutcome::Failed;
    std::string text;
    bool whole = true;
    struct stat info {};
    int error = 0;  // why it failed: an errno value
};

FileText ReadFileText(const std::string& path, std::size_t limit)
{
    FileText result;
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) {
        result.error = errno;
        result.outcome = errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
        return result;
    }
    if (::fstat(fd.get(), &result.info) != 0) {
        result.error = errno;
        return result;
    }
    if (!S_ISREG(result.info.st_mode)) {
        result.error = S_ISDIR(result.info.st_mode) ? EISDIR : EINVAL;
        return result;
    }

    std::size_t expected = result.info.st_size > 0 ? static_cast<std::size_t>(result.info.st_size) : 0;
    std::string text;
    text.resize((expected < limit ? expected : limit) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (used > limit)
                break;  // more than the limit: stop reading
            std::size_t grown = text.size() * 2;
            text.resize(grown > limit + 1 ? limit + 1 : grown);
        }
        ssize_t got = ::read(fd.get(), text.data() + used, text.size() - used);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno;
            return result;
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    result.whole = used <= limit;
    text.resize(result.whole ? used : limit);
    result.text = std::move(text);
    result.outcome = ReadOutcome::Read;
    return result;
}

// The file a write must replace: the path itself, or what a symbolic link
// at the path points to.
std::optional<std::string> WriteTarget(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return std::nullopt;  // a dangling link
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// Rewrites an existing file where it stands (a folder that takes no new file,
// a writable file). What the file gains is written first, beyond its old end:
// a disk too full for it leaves the file as it was. Only then the old length
// is overwritten, which needs no new room, and the file cut to the new length.
bool RewriteInPlace(const std::string& target, const std::string& text, std::size_t oldSize, SystemError& error)
{
    FileDescriptor fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) {
        error = ErrorOf(errno);
        return false;
    }
    auto writeAt = [&](std::size_t from, std::size_t to) {
        return WriteAllAt(fd.get(), text.data() + from, to - from, static_cast<off_t>(from));
    };
    if (text.size() > oldSize && (!writeAt(oldSize, text.size()) || ::fsync(fd.get()) != 0)) {
        error = ErrorOf(errno);
        (void)!::ftruncate(fd.get(), static_cast<off_t>(oldSize));
        return false;
    }
    const std::size_t overlap = text.size() < oldSize ? text.size() : oldSize;
    if (!writeAt(0, overlap) ||
        (text.size() < oldSize && ::ftruncate(fd.get(), static_cast<off_t>(text.size())) != 0) ||
        ::fsync(fd.get()) != 0) {
        error = ErrorOf(errno);
        return false;
    }
    if (!fd.Close()) {
        error = ErrorOf(errno);
        return false;
    }
    return true;
}

}  // namespace

int LinuxProfileFile::GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                std::string& value, int bufferSize, const std::string& file)
{
    try {
        const FileText read = ReadFileText(file, sizeLimit_);
        value = read.outcome == ReadOutcome::Read
                    ? ini::ProfileValue(read.text, read.whole, section, key, defaultValue, bufferSize)
                    : ini::ProfileValue({}, true, section, key, defaultValue, bufferSize);
        return static_cast<int>(value.size());
    } catch (...) {
        value.clear();
        return 0;
    }
}

bool LinuxProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& file, SystemError& error)
{
    try {
        const std::optional<std::string> target = WriteTarget(file);
        if (!target) {
            error = {ENOENT, "a symbolic link that points at nothing"};
            return false;
        }
        FileText read = ReadFileText(*target, sizeLimit_);
        if (read.outcome == ReadOutcome::Failed) {
            error = ErrorOf(read.error);
            return false;
        }
        if (!read.whole) {
            error = {EFBIG, "larger than the " + std::to_string(sizeLimit_) + " bytes a settings file may have"};
            return false;
        }
        const bool existed = read.outcome == ReadOutcome::Read;
        // A file that may not be written (read-only) is not replaced either,
        // though the folder would allow the rename.
        if (existed) {
            FileDescriptor probe(::open(target->c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
            if (!probe.valid()) {
                error = ErrorOf(errno);
                return false;
            }
        }
        std::string text = ini::WriteValue(read.text, section, key, value);
        if (existed && text == read.text)
            return true;

        // A stop signal waits until the file is whole again.
        DeferStopSignals defer;
        const auto fill = [&text](int fd) { return WriteAll(fd, text.data(), text.size()); };
        switch (ReplaceFileWhole(*target, fill, existed ? &read.info : nullptr, error)) {
            case ReplaceOutcome::Replaced:
                return true;
            case ReplaceOutcome::Failed:
                return false;
            case ReplaceOutcome::NoTemporaryFile:
                break;
        }
        // The folder takes no new file but the file may be written: in place,
        // as the Windows call writes it.
        if (!existed || (error.number != EACCES && error.number != EPERM))
            return false;
        return RewriteInPlace(*target, text, read.text.size(), error);
    } catch (...) {
        error = ErrorOf(ENOMEM);
        return false;
    }
}

}  // namespace vel::platform
