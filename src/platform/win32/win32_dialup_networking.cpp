#include "platform/win32/win32_dialup_networking.h"

#include <windows.h>
#include <ras.h>
#include <wininet.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>

#include "platform/win32/win32_dialup.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

using win32::kEntryNameFieldSize;

// A library from the system folder (never the program's own folder), kept
// loaded for the life of the process; null when it is not there.
HMODULE SystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    const std::wstring path = std::wstring(folder, length) + L"\\" + name;
    return ::LoadLibraryW(path.c_str());
}

template <typename Function>
Function Find(HMODULE library, const char* name)
{
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// The first of the system folder and the Windows folder that holds the
// program (95/98 keeps rundll.exe in the latter); the system folder's path
// when neither does, so that the error names it.
std::wstring SystemProgramPath(const std::wstring& program)
{
    std::wstring first;
    for (const auto folderOf : {&::GetSystemDirectoryW, &::GetSystemWindowsDirectoryW}) {
        wchar_t folder[MAX_PATH];
        const UINT length = folderOf(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            continue;
        const std::wstring path = std::wstring(folder, length) + L"\\" + program;
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return path;
        if (first.empty())
            first = path;
    }
    return first;
}

std::string StartSystemProgram(const std::string& program, const std::string& commandLine, bool shown)
{
    const std::wstring path = SystemProgramPath(Widen(program));
    if (path.empty())
        return "the system folder is not known, so " + program + " cannot be started";
    std::wstring line = Widen(commandLine);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(shown ? SW_SHOWNORMAL : SW_HIDE);
    PROCESS_INFORMATION process{};
    // A program started shown may take the foreground from us (the dialer).
    if (shown)
        ::AllowSetForegroundWindow(ASFW_ANY);
    // The full path as the program to run: nothing is looked for in the
    // program's folder, the current folder or on the PATH.
    if (!::CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        const DWORD error = ::GetLastError();
        return Narrow(path) + " could not be started: " + SystemErrorText(error) + " (error " + std::to_string(error) +
               ")";
    }
    // Never waited for.
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return {};
}

using InternetGetConnectedStateFn = BOOL(WINAPI*)(LPDWORD, DWORD);
using RasEnumConnectionsFn = DWORD(WINAPI*)(LPRASCONNA, LPDWORD, LPDWORD);
using RasEnumEntriesFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, LPRASENTRYNAMEA, LPDWORD, LPDWORD);
using RasHangUpFn = DWORD(WINAPI*)(HRASCONN);

std::optional<std::vector<std::uint8_t>> ReadRegistryValue(bool localMachine, const std::string& key,
                                                           const std::string& value, std::uint32_t maxBytes)
{
    HKEY opened = nullptr;
    if (::RegOpenKeyA(localMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key.c_str(), &opened) != ERROR_SUCCESS)
        return std::nullopt;
    std::optional<std::vector<std::uint8_t>> result;
    DWORD size = maxBytes;
    if (maxBytes == 0) {
        // Learn the size first, then read exactly that many bytes.
        if (::RegQueryValueExA(opened, value.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
            size = 0;
    }
    std::vector<std::uint8_t> bytes(size);
    DWORD got = size;
    if ((size > 0 || maxBytes > 0) &&
        ::RegQueryValueExA(opened, value.c_str(), nullptr, nullptr, bytes.empty() ? nullptr : bytes.data(), &got) ==
            ERROR_SUCCESS) {
        bytes.resize(got);
        result = std::move(bytes);
    }
    ::RegCloseKey(opened);
    return result;
}

std::uint64_t ReadLittleEndian(std::span<const std::uint8_t> bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        value = value << 8 | bytes[i];
    return value;
}

// 256 zeroed records with dwSize set in the first.
std::vector<std::uint8_t> MakeRecords(const RasLayout& layout, std::size_t records)
{
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(layout.recordSize) * records, 0);
    const std::uint32_t size = layout.recordSize;
    std::memcpy(buffer.data(), &size, sizeof size);
    return buffer;
}

std::string NameAt(std::span<const std::uint8_t> record, const RasLayout& layout)
{
    return win32::EntryNameFromBytes(record.subspan(layout.nameOffset).first<kEntryNameFieldSize>());
}

}  // namespace

RasLayout RasConnLayout()
{
#if defined(_WIN64)
    return {static_cast<std::uint32_t>(sizeof(RASCONNA)), offsetof(RASCONNA, hrasconn), sizeof(HRASCONN),
            offsetof(RASCONNA, szEntryName)};
#else
    return {win32::kRasConnSize, win32::kRasConnHandleOffset, 4, win32::kRasConnEntryNameOffset};
#endif
}

RasLayout RasEntryNameLayout()
{
#if defined(_WIN64)
    return {static_cast<std::uint32_t>(sizeof(RASENTRYNAMEA)), 0, 0, offsetof(RASENTRYNAMEA, szEntryName)};
#else
    return {win32::kRasEntryNameSize, 0, 0, win32::kRasEntryNameEntryOffset};
#endif
}

DialUpApi SystemDialUpApi()
{
    static const HMODULE ras = SystemLibrary(L"rasapi32.dll");
    static const HMODULE wininet = SystemLibrary(L"wininet.dll");
    DialUpApi api;
    if (const auto connected = Find<InternetGetConnectedStateFn>(wininet, "InternetGetConnectedState"))
        api.internetGetConnectedState = [connected](std::uint32_t& flags) {
            DWORD raw = 0;
            const bool result = connected(&raw, 0) != FALSE;
            flags = raw;
            return result;
        };
    if (const auto enumConnections = Find<RasEnumConnectionsFn>(ras, "RasEnumConnectionsA"))
        api.rasEnumConnections = [enumConnections](void* records, std::uint32_t& bytes, std::uint32_t& count) {
            DWORD size = bytes;
            DWORD found = count;
            const DWORD code = enumConnections(static_cast<LPRASCONNA>(records), &size, &found);
            bytes = size;
            count = found;
            return static_cast<std::uint32_t>(code);
        };
    if (const auto enumEntries = Find<RasEnumEntriesFn>(ras, "RasEnumEntriesA"))
        api.rasEnumEntries = [enumEntries](void* records, std::uint32_t& bytes, std::uint32_t& count) {
            DWORD size = bytes;
            DWORD found = count;
            const DWORD code = enumEntries(nullptr, nullptr, static_cast<LPRASENTRYNAMEA>(records), &size, &found);
            bytes = size;
            count = found;
            return static_cast<std::uint32_t>(code);
        };
    if (const auto hangUp = Find<RasHangUpFn>(ras, "RasHangUpA"))
        api.rasHangUp = [hangUp](std::uintptr_t handle) {
            return static_cast<std::uint32_t>(hangUp(reinterpret_cast<HRASCONN>(handle)));
        };
    api.readRegistryValue = &ReadRegistryValue;
    api.startSystemProgram = &StartSystemProgram;
    api.getVariable = [](const std::string& name) -> std::optional<std::string> {
        Win32Environment environment({}, {});
        return environment.GetVariable(name);
    };
    return api;
}

bool Win32DialUpNetworking::IsNt()
{
    return win32::WindowsFamilyFromOs(api_.getVariable ? api_.getVariable("OS") : std::nullopt) ==
           win32::WindowsFamily::NT;
}

ConnectionState Win32DialUpNetworking::GetConnectionState()
{
    ConnectionState state;
    std::uint32_t flags = 0;
    if (!api_.internetGetConnectedState)
        return state;
    state.online = api_.internetGetConnectedState(flags);
    state.modem = (flags & INTERNET_CONNECTION_MODEM) != 0;
    state.lan = (flags & INTERNET_CONNECTION_LAN) != 0;
    state.proxy = (flags & INTERNET_CONNECTION_PROXY) != 0;
    state.dialUpInstalled = (flags & INTERNET_RAS_INSTALLED) != 0;
    state.offline = (flags & INTERNET_CONNECTION_OFFLINE) != 0;
    state.configured = (flags & INTERNET_CONNECTION_CONFIGURED) != 0;
    return state;
}

bool Win32DialUpNetworking::IsDialUpLinkUp()
{
    if (IsNt())
        return GetConnectionState().modem;
    if (!api_.readRegistryValue)
        return false;
    return win32::RemoteConnectionIsUp(
        api_.readRegistryValue(true, win32::kRemoteAccessKey, win32::kRemoteConnectionValue, 4));
}

std::vector<Win32DialUpNetworking::Connection> Win32DialUpNetworking::EnumConnections(bool& ok)
{
    std::vector<Connection> connections;
    ok = false;
    if (!api_.rasEnumConnections)
        return connections;
    const RasLayout layout = RasConnLayout();
    std::vector<std::uint8_t> buffer = MakeRecords(layout, win32::kRasConnRecords);
    std::uint32_t bytes = static_cast<std::uint32_t>(buffer.size());
    std::uint32_t count = 0;
    ok = api_.rasEnumConnections(buffer.data(), bytes, count) == 0;
    // The count is taken whatever the code, as the list is read.
    const std::size_t records = std::min<std::size_t>(count, buffer.size() / layout.recordSize);
    const std::span<const std::uint8_t> all(buffer);
    for (std::size_t i = 0; i < records; ++i) {
        const auto record = all.subspan(i * layout.recordSize, layout.recordSize);
        connections.push_back(
            {static_cast<std::uintptr_t>(ReadLittleEndian(record.subspan(layout.handleOffset, layout.handleSize))),
             NameAt(record, layout)});
    }
    return connections;
}

ActiveDialUp Win32DialUpNetworking::GetActiveDialUp()
{
    bool ok = false;
    ActiveDialUp active;
    for (auto& connection : EnumConnections(ok))
        active.entries.push_back(std::move(connection.entryName));
    active.linkUp = IsDialUpLinkUp();
    return active;
}

Phonebook Win32DialUpNetworking::GetPhonebook()
{
    return {Entries(), DefaultEntry()};
}

std::vector<std::string> Win32DialUpNetworking::Entries()
{
    std::vector<std::string> names;
    if (!api_.rasEnumEntries)
        return names;
    const RasLayout layout = RasEntryNameLayout();
    std::vector<std::uint8_t> buffer = MakeRecords(layout, win32::kRasEntryNameRecords);
    std::uint32_t bytes = static_cast<std::uint32_t>(buffer.size());
    std::uint32_t count = 0;
    api_.rasEnumEntries(buffer.data(), bytes, count);
    const std::size_t records = std::min<std::size_t>(count, buffer.size() / layout.recordSize);
    const std::span<const std::uint8_t> all(buffer);
    for (std::size_t i = 0; i < records; ++i)
        names.push_back(NameAt(all.subspan(i * layout.recordSize, layout.recordSize), layout));
    return names;
}

std::string Win32DialUpNetworking::DefaultEntry()
{
    if (!api_.readRegistryValue)
        return {};
    return win32::DefaultEntryFromValue(
        api_.readRegistryValue(false, win32::kUserRemoteAccessKey, win32::kDefaultEntryValue, 0));
}

std::string Win32DialUpNetworking::StartDialer(const std::string& entry)
{
    const win32::WindowsFamily family = IsNt() ? win32::WindowsFamily::NT : win32::WindowsFamily::Win9x;
    if (!api_.startSystemProgram)
        return "the system's dialer cannot be started";
    return api_.startSystemProgram(win32::DialProgram(family), win32::DialCommandLine(family, entry), true);
}

std::string Win32DialUpNetworking::HangUp(const std::string& entry)
{
    if (IsNt()) {
        if (!api_.startSystemProgram)
            return "the system's hang-up program cannot be started";
        return api_.startSystemProgram(win32::kNtHangUpProgram, win32::HangUpCommandLine(entry), false);
    }
    bool ok = false;
    const std::vector<Connection> connections = EnumConnections(ok);
    if (!ok || !api_.rasHangUp)
        return {};
    std::vector<std::string> names;
    for (const auto& connection : connections)
        names.push_back(connection.entryName);
    for (const std::size_t index : win32::ConnectionsToHangUp(names, entry))
        api_.rasHangUp(connections[index].handle);
    return {};
}

}  // namespace vel::platform
