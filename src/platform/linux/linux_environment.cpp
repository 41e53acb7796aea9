#include "platform/linux/linux_environment.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "settings/settings.h"

namespace vel::platform {

namespace {

SystemError LastError()
{
    const int number = errno;
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

// Each Write goes straight to the kernel (no user-space buffer), so a crash of
// the program loses no line that was written.
class PosixOutputFile : public OutputFile {
public:
    explicit PosixOutputFile(int fd) : fd_(fd) {}
    ~PosixOutputFile() override { ::close(fd_); }
    bool Write(const std::string& bytes, SystemError& error) override
    {
        if (!WriteAll(fd_, bytes.data(), bytes.size())) {
            error = LastError();
            return false;
        }
        return true;
    }

private:
    int fd_;
};

std::unique_ptr<OutputFile> Open(const std::string& path, int flags, SystemError& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = {EISDIR, std::strerror(EISDIR)};
        return nullptr;
    }
    const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = LastError();
        return nullptr;
    }
    return std::make_unique<PosixOutputFile>(fd);
}

}  // namespace

LinuxEnvironment::LinuxEnvironment(std::vector<std::string> args, std::string executablePath)
    : args_(std::move(args)),
      programFolder_(ChooseProgramFolder(GatherFolderFacts(FolderOf(executablePath), kSettingsFileName)))
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

bool LinuxEnvironment::CopyFileTo(const std::string& from, const std::string& to, SystemError& error)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        error = LastError();
        return false;
    }
    // Copy into a temporary file beside the target, then rename it over: the
    // target is the whole copy or its old self, never half of either.
    std::string temp = to + ".XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0) {
        error = LastError();
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && !WriteAll(out, buffer, static_cast<std::size_t>(n)))) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
    }
    if (ok && ::fchmod(out, 0644) != 0)
        ok = false;
    if (ok && ::fsync(out) != 0)
        ok = false;
    if (!ok)
        error = LastError();
    ::close(in);
    if (::close(out) != 0 && ok) {
        error = LastError();
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), to.c_str()) != 0) {
        error = LastError();
        ok = false;
    }
    if (!ok)
        ::unlink(temp.c_str());
    return ok;
}

bool LinuxEnvironment::RemoveFile(const std::string& path)
{
    return IsOrdinaryFile(path) && ::unlink(path.c_str()) == 0;
}

std::unique_ptr<OutputFile> LinuxEnvironment::OpenAppend(const std::string& path, SystemError& error)
{
    return Open(path, O_APPEND, error);
}

std::unique_ptr<OutputFile> LinuxEnvironment::OpenRewrite(const std::string& path, SystemError& error)
{
    return Open(path, O_TRUNC, error);
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
