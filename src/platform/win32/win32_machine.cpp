#include "platform/win32/win32_machine.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
#include <knownfolders.h>

#include <cstdio>
#include <string>

#include "common/machine_mode.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

// The installers' exit statuses.
constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 64;

// Task Scheduler's own limit on the program's path.
constexpr std::size_t kTaskPathLimit = 260;

SystemError LastError()
{
    const DWORD number = ::GetLastError();
    return {static_cast<int>(number), SystemErrorText(number)};
}

SystemError ErrorOf(DWORD number, const std::string& what)
{
    return {static_cast<int>(number), what};
}

std::string KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path)) && path != nullptr)
        folder = Narrow(path);
    ::CoTaskMemFree(path);
    return folder;
}

// Says why on standard error (the installers show or log it).
int Fail(const std::string& what)
{
    std::fprintf(stderr, "veltrane: %s\n", what.c_str());
    std::fflush(stderr);
    return kFailed;
}

int Fail(const std::string& what, const SystemError& error)
{
    return Fail(what + ": " + error.description + " (error " + std::to_string(error.number) + ")");
}

// A file that did not exist, with these bytes; one that exists stays as it
// is (and that is no failure).
bool WriteNewFile(const std::string& file, const std::string& bytes, SystemError& error)
{
    const HANDLE output =
        ::CreateFileW(Widen(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_EXISTS)
            return true;
        error = LastError();
        return false;
    }
    DWORD wrote = 0;
    const bool ok = ::WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                    wrote == bytes.size() && ::FlushFileBuffers(output);
    if (!ok)
        error = LastError();
    ::CloseHandle(output);
    if (!ok)
        ::DeleteFileW(Widen(file).c_str());
    return ok;
}

// The Application log's source of the machine's runs' events (one per run:
// corrected, within tolerance, failed, refused), the program its message
// file; the events' strings hold their fields.
constexpr const wchar_t* kEventSourceKey = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Veltrane";

bool RegisterEventSource(const std::string& programPath, SystemError& error)
{
    HKEY key = nullptr;
    LONG status =
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        const std::wstring file = Widen(programPath);
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        status = ::RegSetValueExW(key, L"EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                                  static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
        if (status == ERROR_SUCCESS)
            status = ::RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                      sizeof types);
        ::RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS)
        return true;
    error = {static_cast<int>(status), SystemErrorText(static_cast<DWORD>(status))};
    return false;
}

int Install(const std::vector<win32::Preset>& presets)
{
    const std::string folder = MachineFolder();
    SystemError error;
    if (folder.empty())
        return Fail("the system names no folder for the programs' shared data (%ProgramData%)");
    if (!PrepareMachineFolder(folder, error))
        return Fail("the machine's folder " + folder + " could not be prepared", error);

    const std::string settings = folder + "\\Veltrane.INI";
    if (!WriteNewFile(settings, win32::MachineSettingsAsInstalled(), error))
        return Fail("the machine's settings could not be written to " + settings, error);
    Win32ProfileFile profile;
    for (const auto& preset : presets) {
        if (!profile.WriteString("Main", preset.key, preset.value, settings, error))
            return Fail(preset.key + " could not be written to " + settings, error);
    }

    if (!RegisterEventSource(ExecutablePath(), error))
        return Fail("the Application log's source Veltrane could not be registered", error);

    const std::string xml = folder + "\\Veltrane-task.xml";
    if (!WriteTaskXmlFile(xml, ExecutablePath(), error))
        return Fail("the task's XML could not be written to " + xml, error);
    const std::optional<int> status = RunSchtasks({"/Create", "/F", "/TN", win32::kTaskName, "/XML", xml}, error);
    ::DeleteFileW(Widen(xml).c_str());
    if (!status)
        return Fail("schtasks could not be run", error);
    if (*status != 0)
        return Fail(std::string("schtasks could not register the task \"") + win32::kTaskName + "\" (exit status " +
                    std::to_string(*status) + ")");
    return kDone;
}

// The settings of this user's runs of this copy: beside the program, or the
// user's own folder of a copy installed for all users.
int PresetSettings(const std::vector<win32::Preset>& presets)
{
    const std::string executable = ExecutablePath();
    const std::string folder = executable.substr(0, executable.find_last_of('\\'));
    const std::string settings = ProgramFolderFor(RunKindOf({}, folder), folder) + "\\Veltrane.INI";
    const DWORD attributes = ::GetFileAttributesW(Widen(settings).c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    Win32ProfileFile profile;
    SystemError error;
    for (const auto& preset : win32::PresetsToWrite(presets, exists)) {
        if (!profile.WriteString("Main", preset.key, preset.value, settings, error))
            return Fail(preset.key + " could not be written to " + settings, error);
    }
    return kDone;
}

int Uninstall(bool purge)
{
    SystemError error;
    const std::optional<int> status = RunSchtasks({"/Delete", "/F", "/TN", win32::kTaskName}, error);
    // The events written stay in the log; their source goes with the program.
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
    if (purge) {
        const std::string folder = MachineFolder();
        for (const char* name : {"Veltrane.INI", "Veltrane.log", "OldLog.log", "LastRun.ini"})
            ::DeleteFileW(Widen(folder + "\\" + name).c_str());
        // Only when nothing else was put there.
        ::RemoveDirectoryW(Widen(folder).c_str());
    }
    if (!status)
        return Fail("schtasks could not be run", error);
    if (*status != 0)
        return Fail(std::string("schtasks could not remove the task \"") + win32::kTaskName + "\" (exit status " +
                    std::to_string(*status) + ")");
    return kDone;
}

}  // namespace

std::string ExecutablePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return Narrow(path);
        }
        path.resize(path.size() * 2);
    }
}

win32::Folders KnownFolders(const std::string& executableFolder)
{
    return {executableFolder, KnownFolder(FOLDERID_ProgramData), KnownFolder(FOLDERID_LocalAppData)};
}

std::string MachineFolder()
{
    const std::string programData = KnownFolder(FOLDERID_ProgramData);
    return programData.empty() ? std::string() : programData + "\\" + win32::kMachineFolderName;
}

win32::RunKind RunKindOf(const std::vector<std::string>& args, const std::string& executableFolder)
{
    if (IsMachineMode(args))
        return win32::RunKind::Machine;
    const DWORD mark = ::GetFileAttributesW(Widen(executableFolder + "\\" + win32::kAllUsersMark).c_str());
    if (mark != INVALID_FILE_ATTRIBUTES && (mark & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return win32::RunKind::SharedCopy;
    return win32::RunKind::OwnCopy;
}

std::string ProgramFolderFor(win32::RunKind kind, const std::string& executableFolder)
{
    const std::string folder = win32::ChooseProgramFolder(kind, KnownFolders(executableFolder));
    if (kind == win32::RunKind::SharedCopy)
        ::CreateDirectoryW(Widen(folder).c_str(), nullptr);  // the user's own; there already after the first run
    return folder;
}

bool IsElevated()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated != 0;
    ::CloseHandle(token);
    return elevated;
}

int StartElevated(const std::vector<std::string>& args)
{
    std::vector<std::string> again = args;
    again.push_back(kElevatedOption);
    const std::wstring program = Widen(ExecutablePath());
    const std::wstring parameters = Widen(Win32Environment::JoinCommandLine(again));
    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    start.lpVerb = L"runas";
    start.lpFile = program.c_str();
    start.lpParameters = parameters.c_str();
    start.nShow = SW_SHOWNORMAL;
    if (::ShellExecuteExW(&start))
        return 0;
    const DWORD number = ::GetLastError();
    if (number == ERROR_CANCELLED)
        return 3;  // the user said no at UAC's prompt
    const std::string message =
        "Veltrane could not start as administrator to change the settings for all users: " + SystemErrorText(number) +
        " (error " + std::to_string(number) + ")";
    ::MessageBoxW(nullptr, Widen(message).c_str(), L"Veltrane", MB_OK | MB_ICONERROR);
    return 5;
}

bool PrepareMachineFolder(const std::string& folder, SystemError& error)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Widen(win32::kMachineFolderSddl).c_str(),
                                                                SDDL_REVISION_1, &descriptor, nullptr)) {
        error = LastError();
        return false;
    }
    struct Freed {
        PSECURITY_DESCRIPTOR descriptor;
        ~Freed() { ::LocalFree(descriptor); }
    } freed{descriptor};

    const std::wstring path = Widen(folder);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    if (::CreateDirectoryW(path.c_str(), &attributes))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
        error = LastError();
        return false;
    }

    // There already (an earlier install, or made by someone else): a folder
    // of its own, not a link, given the access and owner it would have had.
    const DWORD kind = ::GetFileAttributesW(path.c_str());
    if (kind == INVALID_FILE_ATTRIBUTES || (kind & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (kind & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = ErrorOf(ERROR_ALREADY_EXISTS, "a file or a link is in the way: " + folder);
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL access = nullptr;
    PSID owner = nullptr;
    ::GetSecurityDescriptorDacl(descriptor, &present, &access, &defaulted);
    ::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    DWORD result = ::SetNamedSecurityInfoW(
        const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner, nullptr,
        access, nullptr);
    if (result != ERROR_SUCCESS) {
        error = ErrorOf(result, SystemErrorText(result));
        return false;
    }

    // What lies in it keeps no access of its own: only what the folder hands
    // down. A link would lead elsewhere: refused.
    ACL inheritedOnly;
    ::InitializeAcl(&inheritedOnly, sizeof inheritedOnly, ACL_REVISION);
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        std::wstring child = path + L"\\" + name;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            error = ErrorOf(ERROR_ALREADY_EXISTS, "a link is in the way: " + Narrow(child));
            ok = false;
            break;
        }
        result = ::SetNamedSecurityInfoW(
            child.data(), SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, owner,
            nullptr, &inheritedOnly, nullptr);
        if (result != ERROR_SUCCESS) {
            error = ErrorOf(result, SystemErrorText(result) + ": " + Narrow(child));
            ok = false;
            break;
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return ok;
}

bool WriteTaskXmlFile(const std::string& file, const std::string& programPath, SystemError& error)
{
    if (programPath.empty() || Widen(programPath).size() > kTaskPathLimit) {
        error = ErrorOf(ERROR_FILENAME_EXCED_RANGE, "the task cannot start a program at " + programPath);
        return false;
    }
    const std::wstring text = Widen(win32::TaskXml(programPath));
    std::string bytes = "\xFF\xFE";  // UTF-16, little-endian
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    const HANDLE output =
        ::CreateFileW(Widen(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        error = LastError();
        return false;
    }
    DWORD wrote = 0;
    const bool ok =
        ::WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) && wrote == bytes.size();
    if (!ok)
        error = LastError();
    ::CloseHandle(output);
    return ok;
}

std::optional<int> RunSchtasks(const std::vector<std::string>& args, SystemError& error)
{
    wchar_t system[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = LastError();
        return std::nullopt;
    }
    const std::wstring program = std::wstring(system) + L"\\schtasks.exe";
    std::vector<std::string> argv{Narrow(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::wstring line = Widen(Win32Environment::JoinCommandLine(argv));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process)) {
        error = LastError();
        return std::nullopt;
    }
    ::CloseHandle(process.hThread);
    std::optional<int> status;
    DWORD code = 0;
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 1);
        error = ErrorOf(WAIT_TIMEOUT, "schtasks did not end within a minute");
    } else if (::GetExitCodeProcess(process.hProcess, &code)) {
        status = static_cast<int>(code);
    } else {
        error = LastError();
    }
    ::CloseHandle(process.hProcess);
    return status;
}

std::optional<int> RunInstallerCommand(const std::vector<std::string>& args)
{
    const win32::InstallerCommand command = win32::ParseInstallerCommand(args);
    using Kind = win32::InstallerCommand::Kind;
    if (command.kind == Kind::None)
        return std::nullopt;
    if (!command.error.empty()) {
        Fail(command.error);
        return kUsage;
    }
    SystemError error;
    switch (command.kind) {
        case Kind::Install:
            return Install(command.presets);
        case Kind::Uninstall:
            return Uninstall(command.purge);
        case Kind::PresetSettings:
            return PresetSettings(command.presets);
        case Kind::WriteTaskXml:
            if (!WriteTaskXmlFile(command.file, ExecutablePath(), error))
                return Fail("the task's XML could not be written to " + command.file, error);
            return kDone;
        case Kind::None:
            break;
    }
    return std::nullopt;
}

}  // namespace vel::platform
