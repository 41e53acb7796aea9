#include "platform/linux/linux_profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/ini_text.h"
#include "platform/linux/file_writing.h"
#include "platform/linux/linux_stop_signals.h"

namespace vel::platform {
namespace {

// What is at a settings file's name, read.
struct FileText {
    FileDescriptor fd{-1};  // the file, open; not valid when it is missing or was refused
    std::string where;      // where the file lies (the name, or where the user's link leads)
    ini::FileContent content;
    std::size_t size = 0;  // the bytes read
    bool whole = true;     // they were the whole file (not cut at the limit)
    struct stat info {};
    SystemError error;  // why it is missing (ENOENT) or refused
};

// Opens the file by the rules of OpenOwnFile (nobody else's link, a regular
// file only, never blocking) and reads at most `limit` bytes of it.
// `flags`: O_RDONLY, or O_RDWR to keep it open for a write.
FileText ReadFileText(const std::string& path, int flags, std::size_t limit)
{
    FileText result;
    result.fd = FileDescriptor(OpenOwnFile(path, flags, 0, &result.where, result.error));
    if (!result.fd.valid())
        return result;
    const int fd = result.fd.get();
    if (::fstat(fd, &result.info) != 0) {
        result.error = ErrorOf(errno);
        result.fd.Close();
        return result;
    }
    std::size_t expected = result.info.st_size > 0 ? static_cast<std::size_t>(result.info.st_size) : 0;
    std::string bytes;
    bytes.resize((expected < limit ? expected : limit) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > limit)
                break;  // more than the limit: stop reading
            std::size_t grown = bytes.size() * 2;
            bytes.resize(grown > limit + 1 ? limit + 1 : grown);
        }
        ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            result.error = ErrorOf(errno);
            result.fd.Close();
            return result;
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    result.whole = used <= limit;
    result.size = result.whole ? used : limit;
    bytes.resize(result.size);
    result.content = ini::DecodeFile(bytes);
    return result;
}

// Rewrites an open file where it stands (a folder that takes no new file,
// a writable file). What the file gains is written first, beyond its old end:
// a disk too full for it leaves the file as it was. Only then the old length
// is overwritten, which needs no new room, and the file cut to the new length.
bool RewriteInPlace(int fd, const std::string& text, std::size_t oldSize, SystemError& error)
{
    auto writeAt = [&](std::size_t from, std::size_t to) {
        return WriteAllAt(fd, text.data() + from, to - from, static_cast<off_t>(from));
    };
    if (text.size() > oldSize && (!writeAt(oldSize, text.size()) || ::fsync(fd) != 0)) {
        error = ErrorOf(errno);
        (void)!::ftruncate(fd, static_cast<off_t>(oldSize));
        return false;
    }
    const std::size_t overlap = text.size() < oldSize ? text.size() : oldSize;
    if (!writeAt(0, overlap) || (text.size() < oldSize && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) ||
        ::fsync(fd) != 0) {
        error = ErrorOf(errno);
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> LinuxProfileFile::Value(const std::string& section, const std::string& key,
                                                   const std::string& file)
{
    try {
        const FileText read = ReadFileText(file, O_RDONLY, sizeLimit_);
        if (!read.fd.valid())
            return std::nullopt;
        return ini::ProfileValue(read.content.text, read.whole, section, key);
    } catch (...) {
        return std::nullopt;
    }
}

bool LinuxProfileFile::Usable(const std::string& file, SystemError& why)
{
    const FileText read = ReadFileText(file, O_RDONLY, 0);
    if (read.fd.valid() || read.error.number == ENOENT)
        return true;
    why = read.error;
    return false;
}

std::string LinuxProfileFile::EncodingProblem(const std::string& file)
{
    try {
        const FileText read = ReadFileText(file, O_RDONLY, sizeLimit_);
        return read.fd.valid() ? ini::EncodingProblem(ini::EncodeFile(read.content)) : std::string();
    } catch (...) {
        return {};
    }
}

bool LinuxProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& file, SystemError& error)
{
    try {
        // Open for writing as well: a file that may not be written
        // (read-only) is not replaced either, though the folder would allow it.
        FileText read = ReadFileText(file, O_RDWR, sizeLimit_);
        const bool existed = read.fd.valid();
        if (!existed && read.error.number != ENOENT) {
            error = read.error;
            return false;
        }
        if (!existed && read.where != file) {
            error = {ENOENT, "a symbolic link that points at nothing"};
            return false;
        }
        if (!read.whole) {
            error = {EFBIG, "larger than the " + std::to_string(sizeLimit_) + " bytes a settings file may have"};
            return false;
        }
        ini::FileContent content = read.content;
        content.text = ini::WriteValue(read.content.text, section, key, value);
        if (existed && content.text == read.content.text)
            return true;
        const std::string bytes = ini::EncodeFile(content);

        // A stop signal waits until the file is whole again.
        DeferStopSignals defer;
        const auto fill = [&bytes](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); };
        switch (ReplaceFileWhole(read.where, fill, existed ? &read.info : nullptr, error)) {
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
        return RewriteInPlace(read.fd.get(), bytes, read.size, error);
    } catch (...) {
        error = ErrorOf(ENOMEM);
        return false;
    }
}

}  // namespace vel::platform
