#include "platform/win32/win32_environment.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "common/machine_mode.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

SystemError LastError()
{
    const DWORD number = ::GetLastError();
    return {static_cast<int>(number), SystemErrorText(number)};
}

bool Attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return !path.empty() && ::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data);
}

bool IsFile(const WIN32_FILE_ATTRIBUTE_DATA& data)
{
    return (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::string FolderOf(const std::wstring& path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return ".";
    return Narrow(path.substr(0, slash));
}

HANDLE OpenHandle(const std::string& path, SystemError& error)
{
    // Others may read the log while it is written, append to it, and move it
    // away (a rotation).
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError();
    } else if (::GetFileType(file) != FILE_TYPE_DISK) {  // a pipe or a device: never a log
        ::CloseHandle(file);
        error = {ERROR_INVALID_FUNCTION, SystemErrorText(ERROR_INVALID_FUNCTION)};
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool SameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION x, y;
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

// The runs' lock is one byte far beyond any data: Windows' byte-range locks
// keep other processes from writing what they cover, and appends must go on.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// Each Write goes straight to the system (WriteFile, no buffer of ours), so a
// crash of the program loses no line that was written.
class Win32OutputFile : public OutputFile {
public:
    Win32OutputFile(HANDLE file, std::string path) : file_(file), path_(std::move(path)) {}
    ~Win32OutputFile() override { ::CloseHandle(file_); }
    bool Write(const std::string& bytes, SystemError& error) override
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
            DWORD wrote = 0;
            if (!::WriteFile(file_, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
                error = LastError();
                return false;
            }
            done += wrote;
        }
        return true;
    }

    LockResult TryLock(bool exclusive, SystemError& error) override
    {
        // Another run may move the file away while we wait for its lock.
        for (int turn = 0; turn < 16; ++turn) {
            OVERLAPPED at{};
            at.OffsetHigh = kLockOffsetHigh;
            const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
            if (!::LockFileEx(file_, flags, 0, 1, 0, &at)) {
                const DWORD number = ::GetLastError();
                if (number == ERROR_LOCK_VIOLATION || number == ERROR_IO_PENDING)
                    return LockResult::Busy;
                return LockResult::Unsupported;
            }
            const HANDLE named = ::CreateFileW(Widen(path_).c_str(), FILE_READ_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            const bool same = named != INVALID_HANDLE_VALUE && SameFile(file_, named);
            if (named != INVALID_HANDLE_VALUE)
                ::CloseHandle(named);
            if (same)
                return LockResult::Locked;
            // The path names another file now (or none for a moment): open it.
            Unlock();
            const HANDLE fresh = OpenHandle(path_, error);
            if (fresh == INVALID_HANDLE_VALUE)
                return LockResult::Failed;
            ::CloseHandle(file_);
            file_ = fresh;
        }
        error = {ERROR_SHARING_VIOLATION, SystemErrorText(ERROR_SHARING_VIOLATION)};
        return LockResult::Failed;
    }

    void Unlock() override
    {
        OVERLAPPED at{};
        at.OffsetHigh = kLockOffsetHigh;
        ::UnlockFileEx(file_, 0, 1, 0, &at);
    }

    std::int64_t Size() override
    {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file_, &size) ? static_cast<std::int64_t>(size.QuadPart) : 0;
    }

private:
    HANDLE file_;
    std::string path_;
};

HKEY RootKey(const std::string& root)
{
    if (root == "HKEY_LOCAL_MACHINE")
        return HKEY_LOCAL_MACHINE;
    if (root == "HKEY_CURRENT_USER")
        return HKEY_CURRENT_USER;
    return nullptr;
}

}  // namespace

Win32Environment::Win32Environment(std::vector<std::string> args, std::string programFolder)
    : args_(std::move(args)), programFolder_(std::move(programFolder))
{}

std::vector<std::string> Win32Environment::ProcessArguments()
{
    std::vector<std::string> args;
    int count = 0;
    wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (list == nullptr)
        return args;
    for (int i = 1; i < count; ++i)
        args.push_back(Narrow(list[i]));
    ::LocalFree(list);
    return args;
}

std::string Win32Environment::ExecutableFolder()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return ".";
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return FolderOf(path);
}

ErrorStream Win32Environment::StandardError()
{
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return ErrorStream::None;
    switch (::GetFileType(handle)) {
        case FILE_TYPE_CHAR:
            return ErrorStream::Terminal;
        case FILE_TYPE_DISK:
        case FILE_TYPE_PIPE:
            return ErrorStream::Other;
        default:
            return ErrorStream::None;
    }
}

ProcessFacts Win32Environment::Process()
{
    ProcessFacts facts{args_, {programFolder_, programFolder_, "\\"}, StandardError()};
    if (IsMachineMode(args_))
        facts.folders.state = programFolder_;
    return facts;
}

void Win32Environment::WriteStandardOutput(const std::string& text)
{
    const HANDLE handle = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    for (std::size_t at = 0; at < text.size(); at += written)
        if (!::WriteFile(handle, text.data() + at, static_cast<DWORD>(text.size() - at), &written, nullptr) ||
            written == 0)
            return;
}

std::optional<std::string> Win32Environment::ReadFileBytes(const std::string& path, std::size_t limit,
                                                           SystemError& error)
{
    const HANDLE file =
        ::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = LastError();
        return std::nullopt;
    }
    std::string bytes;
    bool ok = ::GetFileType(file) == FILE_TYPE_DISK;
    if (!ok)
        error = {ERROR_INVALID_FUNCTION, SystemErrorText(ERROR_INVALID_FUNCTION)};
    char buffer[65536];
    while (ok && bytes.size() < limit) {
        DWORD got = 0;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, limit - bytes.size()));
        if (!::ReadFile(file, buffer, wanted, &got, nullptr)) {
            error = LastError();
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            bytes.append(buffer, got);
        }
    }
    ::CloseHandle(file);
    if (!ok)
        return std::nullopt;
    return bytes;
}

bool Win32Environment::ReplaceFileBytes(const std::string& path, const std::string& bytes, SystemError& error)
{
    return ReplaceFileWithBytes(path, bytes, error);
}

bool Win32Environment::IsFolder(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

SystemEventResult Win32Environment::WriteApplicationEvent(const SystemEvent& event, SystemError& error)
{
    const HANDLE source = ::RegisterEventSourceW(nullptr, kEventSource);
    if (source == nullptr) {
        error = LastError();
        return SystemEventResult::Failed;
    }
    std::vector<std::wstring> fields;
    for (const std::string& field : event.fields)
        fields.push_back(Widen(field));
    std::vector<LPCWSTR> strings;
    for (const std::wstring& field : fields)
        strings.push_back(field.c_str());
    const WORD type = event.kind == SystemEvent::Kind::Error     ? EVENTLOG_ERROR_TYPE
                      : event.kind == SystemEvent::Kind::Warning ? EVENTLOG_WARNING_TYPE
                                                                 : EVENTLOG_INFORMATION_TYPE;
    const bool written = ::ReportEventW(source, type, 0, static_cast<DWORD>(event.id), nullptr,
                                        static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
    if (!written)
        error = LastError();
    ::DeregisterEventSource(source);
    return written ? SystemEventResult::Written : SystemEventResult::Failed;
}

void Win32Environment::WriteStandardError(const std::string& text)
{
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return;
    // The log file holds every line; what standard error does not take is lost there only.
    DWORD written = 0;
    for (std::size_t at = 0; at < text.size(); at += written)
        if (!::WriteFile(handle, text.data() + at, static_cast<DWORD>(text.size() - at), &written, nullptr) ||
            written == 0)
            return;
}

std::optional<std::string> Win32Environment::GetVariable(const std::string& name)
{
    const std::wstring wideName = Widen(name);
    std::wstring value(64, L'\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        const DWORD length =
            ::GetEnvironmentVariableW(wideName.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::string();
        }
        if (length < value.size()) {
            value.resize(length);
            return Narrow(value);
        }
        value.resize(length);  // the size needed, with the NUL
    }
}

std::optional<std::int64_t> Win32Environment::OrdinaryFileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!Attributes(path, data) || !IsFile(data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
}

bool Win32Environment::MoveFileTo(const std::string& from, const std::string& to, SystemError& error)
{
    // One step where both lie on one volume; a whole copy, then the original
    // removed, across volumes. The target is replaced.
    if (!::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        error = LastError();
        return false;
    }
    return true;
}

bool Win32Environment::RemoveFile(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data) && IsFile(data) && ::DeleteFileW(Widen(path).c_str());
}

std::unique_ptr<OutputFile> Win32Environment::OpenAppend(const std::string& path, SystemError& error)
{
    const HANDLE file = OpenHandle(path, error);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    return std::make_unique<Win32OutputFile>(file, path);
}

std::string Win32Environment::JoinCommandLine(const std::vector<std::string>& argv)
{
    std::wstring line;
    for (const auto& arg : argv) {
        if (!line.empty())
            line += L' ';
        line += QuoteArgument(Widen(arg));
    }
    return Narrow(line);
}

bool Win32Environment::StartCommandLine(const std::string& commandLine, bool shown)
{
    std::wstring line = Widen(commandLine);
    if (line.empty())
        return false;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(shown ? SW_SHOWNORMAL : SW_HIDE);
    PROCESS_INFORMATION process{};
    // A program started shown may take the foreground from us (the dialer).
    if (shown)
        ::AllowSetForegroundWindow(ASFW_ANY);
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Never waited for.
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return true;
}

bool Win32Environment::StartProgram(const std::vector<std::string>& argv, bool shown)
{
    if (argv.empty() || argv.front().empty())
        return false;
    return StartCommandLine(JoinCommandLine(argv), shown);
}

bool Win32Environment::StartSystemInformation()
{
    // An empty value names no tool: StartProgram refuses it.
    const std::optional<std::string> tool = SystemInformationTool("HKEY_LOCAL_MACHINE");
    return tool && StartProgram({*tool}, true);
}

std::optional<std::string> Win32Environment::SystemInformationTool(const std::string& root)
{
    const auto read = [&root](const char* key, const char* value) {
        std::optional<std::string> text = ReadRegistryString(root, key, value);
        if (text && !text->empty() && text->back() == '\0')
            text->pop_back();
        return text;
    };
    // A PATH that is there counts even when empty: then nothing starts.
    if (std::optional<std::string> tool = read("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"))
        return tool;
    if (std::optional<std::string> folder = read("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO")) {
        const std::string tool = *folder + "\\MSINFO32.EXE";
        if (IsOrdinaryFile(tool))
            return tool;
    }
    return std::nullopt;
}

std::optional<std::string> Win32Environment::ReadRegistryString(const std::string& root, const std::string& key,
                                                                const std::string& value)
{
    const HKEY rootKey = RootKey(root);
    if (rootKey == nullptr)
        return std::nullopt;
    // Read access is all a query needs; a user who may not change the key
    // (any user under HKEY_LOCAL_MACHINE) may still read it.
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(rootKey, Widen(key).c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring name = Widen(value);
    std::optional<std::string> result;
    DWORD type = 0;
    // 1024 characters, as the value is read into.
    std::wstring buffer(1024, L'\0');
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(opened, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) ==
            ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        buffer.resize(bytes / sizeof(wchar_t));
        if (!buffer.empty() && buffer.back() == L'\0')
            buffer.pop_back();
        result = Narrow(buffer);
    }
    ::RegCloseKey(opened);
    return result;
}

}  // namespace vel::platform
