// The install for all users on the system itself: where a run keeps its
// files, the machine's folder and its access, the Task Scheduler task, the
// commands of the installers, and starting the program again as
// administrator. What these do is decided in common/win32_machine.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/win32_machine.h"
#include "platform/environment.h"

namespace vel::platform {

// The executable's own path (GetModuleFileNameW).
std::string ExecutablePath();

// %ProgramData% and the user's %LOCALAPPDATA% (SHGetKnownFolderPath; empty
// where the system names none), beside the program's folder.
win32::Folders KnownFolders(const std::string& executableFolder);

// The machine's folder: %ProgramData%\Veltrane; empty when there is no
// %ProgramData%.
std::string MachineFolder();

// This process's kind of run: the machine's for --machine, a shared copy's
// where the install for all users left its mark beside the program, else its
// own copy's.
win32::RunKind RunKindOf(const std::vector<std::string>& args, const std::string& executableFolder);

// The folder of the settings and the log for that kind of run; a user's own
// folder of a shared copy is made where missing.
std::string ProgramFolderFor(win32::RunKind kind, const std::string& executableFolder);

// Whether this process has an administrator's full rights (past UAC).
bool IsElevated();

// Starts this program again with the same arguments and kElevatedOption,
// asking for an administrator's rights (the "runas" verb: UAC's prompt), and
// does not wait for it. The exit status for this process: 0 started, 3 the
// user declined; otherwise a message box says why and 5.
int StartElevated(const std::vector<std::string>& args);

// The machine's folder made, or given, the access of kMachineFolderSddl,
// owned by the Administrators; the files in it inherit that access alone. A
// link in its place is refused.
bool PrepareMachineFolder(const std::string& folder, SystemError& error);

// The task's XML for `programPath`, saved as UTF-16 with its byte-order mark.
bool WriteTaskXmlFile(const std::string& file, const std::string& programPath, SystemError& error);

// The system's schtasks.exe with these arguments (its output goes to this
// process's), waited for up to a minute: its exit code, or nothing with the
// reason.
std::optional<int> RunSchtasks(const std::vector<std::string>& args, SystemError& error);

// The installers' commands (win32::ParseInstallerCommand): the exit status,
// 0 done, 1 failed (the reason on standard error), 64 wrong arguments;
// nothing when the arguments are no such command.
std::optional<int> RunInstallerCommand(const std::vector<std::string>& args);

}  // namespace vel::platform
