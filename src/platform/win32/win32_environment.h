// The process and its files on Windows: Unicode (W) calls throughout, the
// core's UTF-8 converted here.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace vel::platform {

class Win32Environment : public Environment {
public:
    // The arguments after the program name, and the folder of the executable
    // (without a trailing backslash).
    Win32Environment(std::vector<std::string> args, std::string programFolder);

    // This process's own: CommandLineToArgvW over GetCommandLineW, and the
    // folder of GetModuleFileNameW.
    static std::vector<std::string> ProcessArguments();
    static std::string ExecutableFolder();

    // The settings and the log share a folder on Windows, the machine's too.
    // A GUI program has no console: its standard error is nowhere, unless
    // whoever started it handed it a file or a pipe (or a console).
    // The machine's run keeps its record of the last run there too.
    ProcessFacts Process() override;
    // An environment variable; nullopt when it is not set.
    std::optional<std::string> GetVariable(const std::string& name);
    // An ordinary file that is neither hidden nor a system file (the presence
    // test of the settings file passes those by).
    std::optional<std::int64_t> OrdinaryFileSize(const std::string& path) override;
    // MoveFileExW; across volumes a copy, then the original removed.
    bool MoveFileTo(const std::string& from, const std::string& to, SystemError& error) override;
    bool RemoveFile(const std::string& path) override;
    std::unique_ptr<OutputFile> OpenAppend(const std::string& path, SystemError& error) override;
    void WriteStandardError(const std::string& text) override;
    void WriteStandardOutput(const std::string& text) override;
    std::optional<std::string> ReadFileBytes(const std::string& path, std::size_t limit, SystemError& error) override;
    // As the settings are written (ReplaceFileWithBytes).
    bool ReplaceFileBytes(const std::string& path, const std::string& bytes, SystemError& error) override;
    bool IsFolder(const std::string& path) override;
    // Through `eventWriter`.
    SystemEventResult WriteSystemEvent(const SystemEvent& event, SystemError& error) override
    {
        return eventWriter(event, error);
    }

    // The source the installers register in the Application log, with the
    // program as its message file.
    static constexpr const wchar_t* kEventSource = L"Veltrane";
    // ReportEventW under kEventSource: the kind as the event's type, the
    // fields as its strings.
    static SystemEventResult WriteApplicationEvent(const SystemEvent& event, SystemError& error);
    // What writes the events: WriteApplicationEvent, or a test's own.
    std::function<SystemEventResult(const SystemEvent&, SystemError&)> eventWriter = WriteApplicationEvent;

    // The tool the registry names under HKEY_LOCAL_MACHINE
    // (SystemInformationTool), started shown as StartProgram starts it.
    bool StartSystemInformation() override;

    // Starts a program with an argument vector (never through a shell) and
    // does not wait for it: CreateProcessW, the window shown normally and
    // activated, or hidden.
    bool StartProgram(const std::vector<std::string>& argv, bool shown);

    // msinfo32 as the registry names it under `root`: the MSINFO key's PATH,
    // else MSINFO32.EXE in the Shared Tools Location's MSINFO folder where
    // it is an ordinary file; nullopt when neither.
    std::optional<std::string> SystemInformationTool(const std::string& root);

    // A string value from the registry, a trailing zero character dropped.
    // Root is "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
    static std::optional<std::string> ReadRegistryString(const std::string& root, const std::string& key,
                                                         const std::string& value);

    // Starts a whole command line as CreateProcessW reads it (the program
    // looked for as Windows does) without waiting; false when it could not
    // start.
    static bool StartCommandLine(const std::string& commandLine, bool shown);

    // The arguments as one command line, each quoted where needed.
    static std::string JoinCommandLine(const std::vector<std::string>& argv);

private:
    static ErrorStream StandardError();
    std::vector<std::string> args_;
    std::string programFolder_;
};

}  // namespace vel::platform
