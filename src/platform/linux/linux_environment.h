// The process and its files on Linux.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/linux/file_writing.h"
#include "platform/linux/program_runner.h"

namespace vel::platform {

class LinuxEnvironment : public Environment {
public:
    // args: the arguments after the program name. executablePath: where the
    // program lies (normally /proc/self/exe resolved).
    LinuxEnvironment(std::vector<std::string> args, std::string executablePath);

    // In the machine's run (--machine) the log (OpenAppend, its moves) is
    // only ever a file of the user's own with one link (FileOwner::UserAlone).
    // Standard error is a terminal (isatty), the journal (JOURNAL_STREAM names
    // its device and inode), or anything else that is open.
    ProcessFacts Process() override
    {
        return {args_, {programFolder_, logFolder_, "/", stateFolder_, metricsFolder_}, StandardError()};
    }
    std::optional<std::int64_t> OrdinaryFileSize(const std::string& path) override;
    bool MoveFileTo(const std::string& from, const std::string& to, SystemError& error) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<OutputFile> OpenAppend(const std::string& path, SystemError& error) override;
    void WriteStandardError(const std::string& text) override;
    void WriteStandardOutput(const std::string& text) override;
    std::optional<std::string> ReadFileBytes(const std::string& path, std::size_t limit, SystemError& error) override;
    // A new file may be read by everyone (mode 0644: the monitoring agent
    // reads the machine's metrics as its own user); one replaced keeps its
    // owner where allowed and its mode.
    bool ReplaceFileBytes(const std::string& path, const std::string& bytes, SystemError& error) override;
    bool IsFolder(const std::string& path) override;
    // Linux keeps no such log (the journal gets the run's lines already).
    SystemEventResult WriteSystemEvent(const SystemEvent&, SystemError&) override
    {
        return SystemEventResult::NotSupported;
    }
    // SystemInformationCommand, started as StartProgram starts it.
    bool StartSystemInformation() override;

    // Starts a program with an argument vector (never through a shell) and
    // does not wait for it.
    bool StartProgram(const std::vector<std::string>& argv);
    // The program that shows this system, with its arguments: the first
    // ChooseSystemInformationCommand finds on the PATH, with GNOME's panels
    // found among the desktop entries of XDG_DATA_DIRS. nullopt: none.
    std::optional<std::vector<std::string>> SystemInformationCommand() const;

    // The first known program that shows the hardware and the software of
    // the system: KDE's Info Center, GNOME Settings' page "About" (its panel
    // named as the installed version has it, by the panel's desktop entry),
    // HardInfo, Cinnamon's and Xfce's, then the system monitors of MATE and
    // GNOME. `find` gives a program's full path (nullopt: not installed);
    // `hasDesktopEntry` whether a desktop entry of that file name is installed.
    static std::optional<std::vector<std::string>> ChooseSystemInformationCommand(
        const std::function<std::optional<std::string>(const std::string&)>& find,
        const std::function<bool(const std::string&)>& hasDesktopEntry);

    // The machine's settings and log, as the system units name them.
    static constexpr const char* kMachineSettingsFolder = "/etc/veltrane";
    static constexpr const char* kMachineLogFolder = "/var/log/veltrane";
    static constexpr const char* kMachineStateFolder = "/var/lib/veltrane";
    // node_exporter's textfile collector's folder, as Debian and Fedora make it.
    static constexpr const char* kMetricsFolder = "/var/lib/prometheus/node-exporter";

    // What the choice of the program folder depends on.
    struct FolderFacts {
        std::string executableFolder;
        // The install step's mark lies beside the executable (a package's or
        // `cmake --install`'s copy); a copy without it is a portable one.
        bool installed = false;
        std::string veltraneHome;   // $VELTRANE_HOME, empty when unset
        std::string xdgConfigHome;  // $XDG_CONFIG_HOME, empty when unset
        std::string home;           // $HOME, else the user's home in the password database; empty when neither
        bool machine = false;       // the machine's run (--machine)
    };

    // The folder of the settings and the log: the machine's for its run;
    // else VELTRANE_HOME when set; else, for an installed copy,
    // $XDG_CONFIG_HOME/veltrane (by default ~/.config/veltrane); for a
    // portable copy the executable's folder. Never decided by what the
    // folders allow.
    static std::string ChooseProgramFolder(const FolderFacts& facts);
    // The log's: the program folder, but /var/log/veltrane for the machine's run.
    static std::string ChooseLogFolder(const FolderFacts& facts);

    // The facts as this process finds them.
    static FolderFacts GatherFolderFacts(const std::string& executableFolder);

    // Where the install step leaves its mark, relative to the executable's
    // folder.
    static const char* InstalledMark();

    // The folder of the running executable.
    static std::string ExecutableFolder();

    // The full path of a program on the PATH (a name with a '/' as it is);
    // nullopt when there is none.
    std::optional<std::string> FindProgram(const std::string& name) const;

private:
    static ErrorStream StandardError();
    std::vector<std::string> args_;
    std::string programFolder_;
    std::string logFolder_;
    std::string stateFolder_;
    std::string metricsFolder_;
    FileOwner logOwner_ = FileOwner::AsReached;  // whose files the log and its moves may use
    bool standardErrorFailed_ = false;
    ProgramRunner programs_;
};

}  // namespace vel::platform
