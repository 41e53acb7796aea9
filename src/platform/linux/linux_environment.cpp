#include "platform/linux/linux_environment.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "common/command_line.h"
#include "common/machine_mode.h"
#include "platform/linux/file_writing.h"
#include "platform/linux/linux_stop_signals.h"

namespace vel::platform {

namespace {

// Whether a desktop entry of that file name lies in the applications folder
// of a data folder (XDG_DATA_DIRS, by default /usr/local/share and /usr/share).
bool HasDesktopEntry(const std::string& name)
{
    const char* folders = std::getenv("XDG_DATA_DIRS");
    std::string list = folders != nullptr && *folders != '\0' ? folders : "/usr/local/share:/usr/share";
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::string folder = list.substr(start, end - start);
        struct stat st {};
        if (!folder.empty() && folder[0] == '/' && ::stat((folder + "/applications/" + name).c_str(), &st) == 0 &&
            S_ISREG(st.st_mode))
            return true;
        start = end + 1;
    }
    return false;
}

SystemError LastError()
{
    const int number = errno;
    return {number, std::strerror(number)};
}

// The log: only a regular file, links followed only where they are the
// user's (file_writing.h), never blocking on a named pipe.
int OpenDescriptor(const std::string& path, FileOwner owner, SystemError& error)
{
    return OpenOwnFile(path, O_WRONLY | O_APPEND | O_CREAT, 0644, nullptr, error, owner);
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
    PosixOutputFile(int fd, std::string path, FileOwner owner) : fd_(fd), path_(std::move(path)), owner_(owner) {}
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
            const int fresh = OpenDescriptor(path_, owner_, error);
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
    FileOwner owner_;
};

// Copies `from` into a new file replacing `to` (see ReplaceFileWhole): the
// target is the whole copy or its old self, never half of either.
bool CopyOver(const std::string& from, const std::string& to, SystemError& error)
{
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
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

// Moves the file at `source` to `target`: one rename, or across file systems
// a whole copy and then the removal of the original.
bool MoveResolved(const std::string& source, const std::string& target, SystemError& error)
{
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

}  // namespace

LinuxEnvironment::LinuxEnvironment(std::vector<std::string> args, std::string executablePath) : args_(std::move(args))
{
    FolderFacts facts = GatherFolderFacts(FolderOf(executablePath));
    facts.machine = IsMachineMode(args_);
    // The machine's run (as root) writes no log file that another user
    // could have put in its place.
    logOwner_ = facts.machine ? FileOwner::UserAlone : FileOwner::AsReached;
    programFolder_ = ChooseProgramFolder(facts);
    logFolder_ = ChooseLogFolder(facts);
    if (facts.machine) {
        stateFolder_ = kMachineStateFolder;
        metricsFolder_ = kMetricsFolder;
    }
    // The machine's folders are the package's, made by the system; a start
    // that only opens the log makes nothing.
    const StartOptions options = ReadStartOptions(args_);
    if (programFolder_ == facts.executableFolder || facts.machine || options.openLog || options.history)
        return;
    std::error_code ec;
    if (!facts.veltraneHome.empty()) {
        std::filesystem::create_directories(programFolder_, ec);
        return;
    }
    // The user's configuration folder may not exist yet: what is missing of
    // it is made private to the user, as configuration folders are.
    for (std::size_t slash = programFolder_.find('/', 1); slash != std::string::npos;
         slash = programFolder_.find('/', slash + 1))
        ::mkdir(programFolder_.substr(0, slash).c_str(), 0700);
    ::mkdir(programFolder_.c_str(), 0700);
}

const char* LinuxEnvironment::InstalledMark()
{
    return VELTRANE_INSTALL_MARK;
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
    if (facts.machine)
        return kMachineSettingsFolder;
    if (!facts.veltraneHome.empty()) {
        std::string folder = facts.veltraneHome;
        while (folder.size() > 1 && folder.back() == '/')
            folder.pop_back();
        return folder;
    }
    if (!facts.installed)
        return facts.executableFolder;
    // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
    if (!facts.xdgConfigHome.empty() && facts.xdgConfigHome.front() == '/')
        return facts.xdgConfigHome + "/veltrane";
    if (!facts.home.empty())
        return facts.home + "/.config/veltrane";
    return facts.executableFolder;
}

std::string LinuxEnvironment::ChooseLogFolder(const FolderFacts& facts)
{
    return facts.machine ? kMachineLogFolder : ChooseProgramFolder(facts);
}

LinuxEnvironment::FolderFacts LinuxEnvironment::GatherFolderFacts(const std::string& executableFolder)
{
    FolderFacts facts;
    facts.executableFolder = executableFolder;
    struct stat st {};
    const std::string mark = executableFolder + "/" + InstalledMark();
    facts.installed = ::stat(mark.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    facts.veltraneHome = variable("VELTRANE_HOME");
    facts.xdgConfigHome = variable("XDG_CONFIG_HOME");
    facts.home = variable("HOME");
    if (facts.home.empty()) {  // a service without HOME, say
        struct passwd entry {};
        struct passwd* found = nullptr;
        std::string buffer(16384, '\0');
        if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
            found->pw_dir != nullptr)
            facts.home = found->pw_dir;
    }
    return facts;
}

std::optional<std::int64_t> LinuxEnvironment::OrdinaryFileSize(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::int64_t>(st.st_size);
}

bool LinuxEnvironment::MoveFileTo(const std::string& from, const std::string& to, SystemError& error)
{
    // The names themselves, or where the user's own links at them lead;
    // nobody else's link is followed. Without links this renames a name of
    // the folder over another, which never reaches a file elsewhere.
    const std::optional<std::string> source = ResolveOwnLinks(from, error, logOwner_);
    if (!source)
        return false;
    const std::optional<std::string> target = ResolveOwnLinks(to, error, logOwner_);
    if (!target) {
        error.description = to + ": " + error.description;  // the caller names only `from`
        return false;
    }
    return MoveResolved(*source, *target, error);
}

bool LinuxEnvironment::RemoveFile(const std::string& path)
{
    return IsOrdinaryFile(path) && ::unlink(path.c_str()) == 0;
}

std::unique_ptr<OutputFile> LinuxEnvironment::OpenAppend(const std::string& path, SystemError& error)
{
    const int fd = OpenDescriptor(path, logOwner_, error);
    if (fd < 0)
        return nullptr;
    return std::make_unique<PosixOutputFile>(fd, path, logOwner_);
}

ErrorStream LinuxEnvironment::StandardError()
{
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0)
        return ErrorStream::None;
    if (::isatty(STDERR_FILENO))
        return ErrorStream::Terminal;
    // systemd sets "DEVICE:INODE" of the stream it connected; a descendant
    // whose standard error was redirected elsewhere still inherits it.
    if (const char* journal = std::getenv("JOURNAL_STREAM")) {
        unsigned long long device = 0, inode = 0;
        if (std::sscanf(journal, "%llu:%llu", &device, &inode) == 2 && device == st.st_dev && inode == st.st_ino)
            return ErrorStream::Journal;
    }
    return ErrorStream::Other;
}

void LinuxEnvironment::WriteStandardOutput(const std::string& text)
{
    (void)!WriteAll(STDOUT_FILENO, text.data(), text.size());
}

std::optional<std::string> LinuxEnvironment::ReadFileBytes(const std::string& path, std::size_t limit,
                                                           SystemError& error)
{
    FileDescriptor fd(OpenOwnFile(path, O_RDONLY | O_CLOEXEC | O_NOCTTY, 0, nullptr, error));
    if (!fd.valid())
        return std::nullopt;
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < limit) {
        const ssize_t got = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = LastError();
            return std::nullopt;
        }
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

bool LinuxEnvironment::ReplaceFileBytes(const std::string& path, const std::string& bytes, SystemError& error)
{
    const std::optional<std::string> where = ResolveOwnLinks(path, error);
    if (!where)
        return false;
    struct stat original {};
    const bool existed = ::lstat(where->c_str(), &original) == 0;
    if (existed && !S_ISREG(original.st_mode)) {
        error = ErrorOf(EINVAL);
        return false;
    }
    const auto fill = [&](int fd) {
        return (existed || ::fchmod(fd, 0644) == 0) && WriteAll(fd, bytes.data(), bytes.size());
    };
    return ReplaceFileWhole(*where, fill, existed ? &original : nullptr, error) == ReplaceOutcome::Replaced;
}

bool LinuxEnvironment::IsFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void LinuxEnvironment::WriteStandardError(const std::string& text)
{
    // The log file holds every line: standard error that stopped taking them
    // (a pipe whose reader has gone) is left alone from then on, and never
    // ends the program by SIGPIPE.
    if (standardErrorFailed_)
        return;
    sigset_t pipe{}, old{};
    ::sigemptyset(&pipe);
    ::sigaddset(&pipe, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe, &old);
    if (!WriteAll(STDERR_FILENO, text.data(), text.size())) {
        standardErrorFailed_ = true;
        const timespec now{};
        if (errno == EPIPE && !::sigismember(&old, SIGPIPE))
            ::sigtimedwait(&pipe, nullptr, &now);  // the signal of our own write, taken back
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

bool LinuxEnvironment::StartSystemInformation()
{
    const std::optional<std::vector<std::string>> command = SystemInformationCommand();
    return command && StartProgram(*command);
}

bool LinuxEnvironment::StartProgram(const std::vector<std::string>& argv)
{
    return programs_.StartDetached(argv, StartAs::UserProgram);
}

std::optional<std::string> LinuxEnvironment::FindProgram(const std::string& name) const
{
    return programs_.Find(name);
}

std::optional<std::vector<std::string>> LinuxEnvironment::SystemInformationCommand() const
{
    const auto find = [this](const std::string& name) { return programs_.Find(name); };
    return ChooseSystemInformationCommand(find, HasDesktopEntry);
}

std::optional<std::vector<std::string>> LinuxEnvironment::ChooseSystemInformationCommand(
    const std::function<std::optional<std::string>(const std::string&)>& find,
    const std::function<bool(const std::string&)>& hasDesktopEntry)
{
    struct Tool {
        const char* program;
        std::vector<std::string> arguments;
        const char* desktopEntry;  // installed only with the arguments' panel; null: none needed
    };
    static const Tool kTools[] = {
        {"kinfocenter", {}, nullptr},
        // GNOME Settings 46 and later show "About" in the panel "system";
        // 40 to 45 have a panel of its own.
        {"gnome-control-center", {"system", "about"}, "gnome-about-panel.desktop"},
        {"gnome-control-center", {"info-overview"}, "gnome-info-overview-panel.desktop"},
        {"hardinfo2", {}, nullptr},
        {"hardinfo", {}, nullptr},
        {"cinnamon-settings", {"info"}, nullptr},
        {"xfce4-about", {}, nullptr},
        {"mate-system-monitor", {}, nullptr},
        {"gnome-system-monitor", {}, nullptr},
    };
    for (const Tool& tool : kTools) {
        if (tool.desktopEntry != nullptr && !hasDesktopEntry(tool.desktopEntry))
            continue;
        if (const std::optional<std::string> path = find(tool.program)) {
            std::vector<std::string> command{*path};
            command.insert(command.end(), tool.arguments.begin(), tool.arguments.end());
            return command;
        }
    }
    return std::nullopt;
}

}  // namespace vel::platform
