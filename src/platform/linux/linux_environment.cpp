#include "platform/linux/linux_environment.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/linux/file_writing.h"
#include "platform/linux/linux_stop_signals.h"

namespace vel::platform {

namespace {

SystemError LastError()
{
    const int number = errno;
    return {number, std::strerror(number)};
}

int OpenDescriptor(const std::string& path, SystemError& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = {EISDIR, std::strerror(EISDIR)};
        return -1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0)
        error = LastError();
    return fd;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Each Write goes straight to the kernel (no user-space buffer), so a crash of
// the program loses no line that was written. O_APPEND: every write lands at
// the end as it is then, whoever else writes to the file.
class PosixOutputFile : public OutputFile {
public:
    PosixOutputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixOutputFile() override { ::close(fd_); }
    bool Write(const std::string& bytes, SystemError& error) override
    {
        if (!WriteAll(fd_, bytes.data(), bytes.size())) {
            error = LastError();
            return false;
        }
        return true;
    }

    LockResult TryLock(bool exclusive, SystemError& error) override
    {
        // Another run may rename the file away while we wait for its lock;
        // after a few such turns something is wrong with the folder.
        for (int turn = 0; turn < 16; ++turn) {
            if (::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EWOULDBLOCK)
                    return LockResult::Busy;
                return LockResult::Unsupported;  // ENOLCK, EINVAL, ...: no locks here
            }
            struct stat open {
            }, named{};
            if (::fstat(fd_, &open) == 0 && ::stat(path_.c_str(), &named) == 0 && SameFile(open, named))
                return LockResult::Locked;
            // The path names another file now (or none for a moment): open it.
            ::flock(fd_, LOCK_UN);
            const int fresh = OpenDescriptor(path_, error);
            if (fresh < 0)
                return LockResult::Failed;
            ::close(fd_);
            fd_ = fresh;
        }
        error = {EAGAIN, std::strerror(EAGAIN)};
        return LockResult::Failed;
    }

    void Unlock() override { ::flock(fd_, LOCK_UN); }

    std::int64_t Size() override
    {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    }

private:
    int fd_;
    std::string path_;
};

std::unique_ptr<OutputFile> Open(const std::string& path, SystemError& error)
{
    const int fd = OpenDescriptor(path, error);
    if (fd < 0)
        return nullptr;
    return std::make_unique<PosixOutputFile>(fd, path);
}

// The file a name finally stands for: symbolic links followed, also where the
// last one points at nothing yet.
std::string FinalTarget(const std::string& path, SystemError& error)
{
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n < 0) {
            error = LastError();
            return {};
        }
        link.resize(static_cast<std::size_t>(n));
        current = !link.empty() && link.front() == '/' ? link : FolderOf(current) + "/" + link;
    }
    error = {ELOOP, std::strerror(ELOOP)};
    return {};
}

// Copies `from` into a new file replacing `to` (see ReplaceFileWhole): the
// target is the whole copy or its old self, never half of either.
bool CopyOver(const std::string& from, const std::string& to, SystemError& error)
{
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid()) {
        error = LastError();
        return false;
    }
    const auto copy = [&in](int out) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(in.get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (n > 0 && !WriteAll(out, buffer, static_cast<std::size_t>(n))))
                return false;
            if (n == 0)
                return ::fchmod(out, 0644) == 0;
        }
    };
    return ReplaceFileWhole(to, copy, nullptr, error) == ReplaceOutcome::Replaced;
}

}  // namespace

LinuxEnvironment::LinuxEnvironment(std::vector<std::string> args, std::string executablePath,
                                   const std::string& settingsFileName)
    : args_(std::move(args)),
      programFolder_(ChooseProgramFolder(GatherFolderFacts(FolderOf(executablePath), settingsFileName)))
{
    // The stand-in folder under the user's configuration may not exist yet.
    if (programFolder_ != FolderOf(executablePath)) {
        std::error_code ec;
        std::filesystem::create_directories(programFolder_, ec);
    }
}

std::string LinuxEnvironment::ExecutableFolder()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return ".";
    return FolderOf(exe.string());
}

std::string LinuxEnvironment::ChooseProgramFolder(const FolderFacts& facts)
{
    if (!facts.veltraneHome.empty()) {
        std::string folder = facts.veltraneHome;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        return folder;
    }
    if (facts.executableFolderHasSettings || facts.executableFolderWritable)
        return facts.executableFolder;
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    if (!facts.xdgConfigHome.empty() && facts.xdgConfigHome.front() == '/')
        return facts.xdgConfigHome + "/veltrane";
    if (!facts.home.empty())
        return facts.home + "/.config/veltrane";
    return facts.executableFolder;
}

LinuxEnvironment::FolderFacts LinuxEnvironment::GatherFolderFacts(const std::string& executableFolder,
                                                                  const std::string& settingsFileName)
{
    FolderFacts facts;
    facts.executableFolder = executableFolder;
    struct stat st {};
    const std::string settings = executableFolder + "/" + settingsFileName;
    facts.executableFolderHasSettings = ::stat(settings.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    facts.executableFolderWritable = ::access(executableFolder.c_str(), W_OK) == 0;
    auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    facts.veltraneHome = variable("VELTRANE_HOME");
    facts.xdgConfigHome = variable("XDG_CONFIG_HOME");
    facts.home = variable("HOME");
    return facts;
}

std::string LinuxEnvironment::CommandLine()
{
    std::string line;
    for (const auto& arg : args_) {
        if (!line.empty())
            line += ' ';
        line += arg;
    }
    return line;
}

std::optional<std::string> LinuxEnvironment::GetVariable(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    if (!value)
        return std::nullopt;
    return std::string(value);
}

bool LinuxEnvironment::IsOrdinaryFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::int64_t> LinuxEnvironment::FileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

bool LinuxEnvironment::MoveFileTo(const std::string& from, const std::string& to, SystemError& error)
{
    const std::string source = FinalTarget(from, error);
    const std::string target = source.empty() ? std::string() : FinalTarget(to, error);
    if (source.empty() || target.empty())
        return false;
    // A stop signal waits until the move is whole (no temporary file left).
    DeferStopSignals defer;
    if (::rename(source.c_str(), target.c_str()) == 0) {
        SyncFolder(FolderOf(target));
        if (FolderOf(source) != FolderOf(target))
            SyncFolder(FolderOf(source));
        return true;
    }
    if (errno != EXDEV) {
        error = LastError();
        return false;
    }
    // The links lead to two file systems: copy, then remove the original.
    if (!CopyOver(source, target, error))
        return false;
    if (::unlink(source.c_str()) != 0) {
        error = LastError();
        return false;
    }
    SyncFolder(FolderOf(source));
    return true;
}

bool LinuxEnvironment::RemoveFile(const std::string& path)
{
    return IsOrdinaryFile(path) && ::unlink(path.c_str()) == 0;
}

std::unique_ptr<OutputFile> LinuxEnvironment::OpenAppend(const std::string& path, SystemError& error)
{
    return Open(path, error);
}

bool LinuxEnvironment::StartProgram(const std::vector<std::string>& argv, bool)
{
    return programs_.StartDetached(argv, StartAs::UserProgram);
}

std::optional<std::string> LinuxEnvironment::FindProgram(const std::string& name) const
{
    return programs_.Find(name);
}

std::optional<std::string> LinuxEnvironment::SystemInformationProgram()
{
    for (const char* name : {"hardinfo", "kinfocenter", "gnome-system-monitor"})
        if (auto path = programs_.Find(name))
            return path;
    return std::nullopt;
}

std::optional<std::string> LinuxEnvironment::ReadRegistryString(const std::string&, const std::string&,
                                                                const std::string&)
{
    return std::nullopt;  // Linux has no registry
}

}  // namespace vel::platform
