// The pieces of Veltrane's install for all users on Windows that need no
// Windows headers: the Task Scheduler task that starts the machine's runs,
// the commands the installers give the program, where each kind of run keeps
// its files, and what a run without the right to set the clock should do.
// The Win32 back end (platform/win32/win32_machine) does the rest.
#pragma once

#include <string>
#include <vector>

namespace vel::win32 {

// The task, in its folder of the Task Scheduler library.
inline constexpr const char* kTaskName = "Veltrane\\Set the clock";

// The machine's settings and log: this folder under %ProgramData%.
inline constexpr const char* kMachineFolderName = "Veltrane";

// Who may do what in the machine's folder: owned by the Administrators;
// Administrators, SYSTEM and LOCAL SERVICE (the task's account, which writes
// the log) may do everything, Users read. Protected: nothing is inherited
// from %ProgramData%, where every user may create files.
inline constexpr const char* kMachineFolderSddl =
    "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;LS)(A;OICI;FRFX;;;BU)";

// The machine's settings as an install writes them where there are none:
// the LAN (the task does not dial), the other keys in comments. CR LF.
std::string MachineSettingsAsInstalled();

// The task as Task Scheduler 1.2 XML, to be saved as UTF-16 (the declaration
// says so) and registered with schtasks /Create /XML: it runs
// `programPath --machine` as NT AUTHORITY\LOCAL SERVICE (S-1-5-19, which
// holds the right to change the time) without elevation, a minute after
// start-up, a minute after any user's log-on and daily at noon within a
// random ten minutes, only with a network, at most ten minutes, never twice
// at once, and makes up a start it missed. Lines end in CR LF.
std::string TaskXml(const std::string& programPath);

// Text as XML element content: &, < and > escaped.
std::string XmlEscape(const std::string& text);

// A setting an installer presets in the machine's settings file.
struct Preset {
    std::string key;  // as the settings file spells it: NTPServer, Delay, Tolerance
    std::string value;
};

// What the installers ask of the program (never a user: --help does not
// list it). The first argument decides; anything it does not know is an
// error, and then nothing is done.
//   --install-machine [NTPServer=TEXT] [Delay=N] [Tolerance=N]
//       the machine's folder with its access, its settings as installed
//       where it has none, the settings given (an empty value presets
//       nothing), the task registered;
//   --uninstall-machine [--purge]
//       the task removed; with --purge also the machine's settings and log;
//   --preset-settings [NTPServer=TEXT] [Delay=N] [Tolerance=N]
//       the settings given, in the settings file of this user's runs of
//       this copy (PresetsToWrite says what goes in);
//   --write-task-xml FILE
//       the task's XML for this program, written to FILE.
struct InstallerCommand {
    enum class Kind { None, Install, Uninstall, WriteTaskXml, PresetSettings };
    Kind kind = Kind::None;
    std::vector<Preset> presets;
    bool purge = false;
    std::string file;
    std::string error;  // not empty: the arguments are wrong
};

inline constexpr const char* kInstallMachineOption = "--install-machine";
inline constexpr const char* kUninstallMachineOption = "--uninstall-machine";
inline constexpr const char* kWriteTaskXmlOption = "--write-task-xml";
inline constexpr const char* kPurgeOption = "--purge";
inline constexpr const char* kPresetSettingsOption = "--preset-settings";

InstallerCommand ParseInstallerCommand(const std::vector<std::string>& args);

// What --preset-settings writes into a user's settings file: the settings
// given; in a file that is new, also the LAN, so that the first run needs no
// dialog and dials nothing. Nothing when none is given (no file is made).
std::vector<Preset> PresetsToWrite(const std::vector<Preset>& presets, bool fileExists);

// Whether this start only starts the program again as administrator: the
// dialog of the machine's settings (--machine and the word "config"), which
// only administrators may change, asked for without an administrator's full
// rights, and not by such a second start already (kElevatedOption).
bool StartsAgainAsAdministrator(const std::vector<std::string>& args, bool elevated);

// Which run this is, which decides where its settings and log live.
enum class RunKind {
    OwnCopy,     // a portable copy or one installed for the user alone: beside the program
    SharedCopy,  // a user's run of the copy installed for all users: the user's own folder
    Machine,     // the machine's run (--machine): the machine's folder
};

// The file an install for all users leaves beside the program.
inline constexpr const char* kAllUsersMark = "installed-for-all-users.txt";

struct Folders {
    std::string executable;    // the program's folder
    std::string programData;   // %ProgramData%
    std::string localAppData;  // the user's %LOCALAPPDATA%
};

// The folder of the settings and the log (without a trailing backslash).
// Where the folder a kind needs is unknown, the program's own.
std::string ChooseProgramFolder(RunKind kind, const Folders& folders);

// What lets the program set the clock, in plain words, for the log line of a
// setting refused for want of the right (Windows error 1314).
std::string ClockRightFix(RunKind kind);

}  // namespace vel::win32
