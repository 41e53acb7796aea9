#include "platform/linux/linux_profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <atomic>
#include <optional>

#include "common/ini_text.h"

namespace vel::platform {
namespace {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now; false when the close reports an error (a late write error).
    bool Close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

enum class ReadOutcome { Read, Missing, Failed };

// An ordinary file's text, at most `limit` bytes of it. `whole` tells
// whether that was the whole file.
struct FileText {
    ReadOutcome outcome = ReadOutcome::Failed;
    std::string text;
    bool whole = true;
    struct stat info {};
};

FileText ReadFileText(const std::string& path, std::size_t limit) {
    FileText result;
    // O_NONBLOCK: opening a named pipe must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd.valid()) {
        result.outcome = errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Failed;
        return result;
    }
    if (::fstat(fd.get(), &result.info) != 0 || !S_ISREG(result.info.st_mode)) return result;

    std::size_t expected = result.info.st_size > 0 ? static_cast<std::size_t>(result.info.st_size) : 0;
    std::string text;
    text.resize((expected < limit ? expected : limit) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size()) {
            if (used > limit) break;  // more than the limit: stop reading
            std::size_t grown = text.size() * 2;
            text.resize(grown > limit + 1 ? limit + 1 : grown);
        }
        ssize_t got = ::read(fd.get(), text.data() + used, text.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            return result;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    result.whole = used <= limit;
    text.resize(result.whole ? used : limit);
    result.text = std::move(text);
    result.outcome = ReadOutcome::Read;
    return result;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// The file a write must replace: the path itself, or what a symbolic link
// at the path points to.
std::optional<std::string> WriteTarget(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return std::nullopt;  // a dangling link
    std::string target(resolved);
    std::free(resolved);
    return target;
}

void SyncFolder(const std::string& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) ::fsync(fd.get());
}

// Writes `text` to a new file beside `target` and renames it over `target`.
bool ReplaceFile(const std::string& target, const std::string& text, const struct stat* original) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    if (base.empty()) return false;

    static std::atomic<unsigned> counter{0};
    std::string temporary;
    int created = -1;
    for (int attempt = 0; attempt < 100 && created < 0; ++attempt) {
        temporary = folder + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        created = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (created < 0 && errno != EEXIST) return false;
    }
    if (created < 0) return false;
    FileDescriptor fd(created);

    bool ok = true;
    if (original != nullptr) {
        if (original->st_uid != ::geteuid() || original->st_gid != ::getegid()) {
            (void)!::fchown(fd.get(), original->st_uid, original->st_gid);  // where allowed
        }
        ok = ::fchmod(fd.get(), original->st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd.get(), text) && ::fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(folder);
    return true;
}

}  // namespace

int LinuxProfileFile::GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                std::string& value, int bufferSize, const std::string& file) {
    try {
        std::string found = defaultValue;
        FileText read = ReadFileText(file, sizeLimit_);
        if (read.outcome == ReadOutcome::Read) {
            if (!read.whole) {
                // Only whole lines count: a line cut by the limit is dropped.
                std::size_t lastBreak = read.text.find_last_of("\r\n");
                read.text.resize(lastBreak == std::string::npos ? 0 : lastBreak + 1);
            }
            if (std::optional<std::string> stored = ini::ReadValue(read.text, section, key)) found = std::move(*stored);
        }
        const std::size_t room = bufferSize > 0 ? static_cast<std::size_t>(bufferSize) - 1 : 0;
        if (found.size() > room) found.resize(room);
        value = std::move(found);
        return static_cast<int>(value.size());
    } catch (...) {
        value.clear();
        return 0;
    }
}

bool LinuxProfileFile::WriteString(const std::string& section, const std::string& key, const std::string& value,
                                   const std::string& file) {
    try {
        const std::optional<std::string> target = WriteTarget(file);
        if (!target) return false;
        FileText read = ReadFileText(*target, sizeLimit_);
        if (read.outcome == ReadOutcome::Failed || !read.whole) return false;
        const bool existed = read.outcome == ReadOutcome::Read;
        // A file that may not be written (read-only) is not replaced either,
        // though the folder would allow the rename.
        if (existed) {
            FileDescriptor probe(::open(target->c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
            if (!probe.valid()) return false;
        }
        std::string text = ini::WriteValue(read.text, section, key, value);
        if (existed && text == read.text) return true;
        return ReplaceFile(*target, text, existed ? &read.info : nullptr);
    } catch (...) {
        return false;
    }
}

}  // namespace vel::platform
