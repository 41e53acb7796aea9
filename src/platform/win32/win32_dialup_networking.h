// Dial-up networking and the online state on Windows: the Remote Access
// Service (rasapi32) and WinINet, loaded at run time, the registry, and the
// system's dial and hang-up programs. The NT and 95/98 branches are chosen by
// the "OS" variable at each call; the command lines, the record layouts of
// the 32-bit build and the registry names are common/win32_dialup's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dialup.h"

namespace vel::platform {

// The system calls the back end rests on, as a table that tests replace
// (Wine's RAS is an empty stub). An empty function stands for a library that
// could not be loaded: the operation gives its empty answer.
struct DialUpApi {
    // InternetGetConnectedState(&flags, 0): the result and the flags.
    std::function<bool(std::uint32_t& flags)> internetGetConnectedState;
    // RasEnumConnectionsA / RasEnumEntriesA(NULL, NULL, ...) on a buffer of
    // records whose first dwSize is set: the return code; size and count in
    // and out as the calls have them.
    std::function<std::uint32_t(void* records, std::uint32_t& bytes, std::uint32_t& count)> rasEnumConnections;
    std::function<std::uint32_t(void* records, std::uint32_t& bytes, std::uint32_t& count)> rasEnumEntries;
    // RasHangUpA with a connection's handle.
    std::function<std::uint32_t(std::uintptr_t handle)> rasHangUp;
    // RegOpenKeyA, RegQueryValueExA (into `maxBytes` bytes; 0: as many as the
    // value has), RegCloseKey: the value's bytes, nullopt when the key or the
    // value could not be read. `localMachine`: HKEY_LOCAL_MACHINE, else
    // HKEY_CURRENT_USER.
    std::function<std::optional<std::vector<std::uint8_t>>(bool localMachine, const std::string& key,
                                                           const std::string& value, std::uint32_t maxBytes)>
        readRegistryValue;
    // Starts a system program (its file name, looked for in the system
    // folder, then the Windows folder; never in the program's folder or on
    // the PATH) with the command line, without waiting; shown and activated,
    // or hidden. Empty when it started, else why not (its path and the
    // system's error).
    std::function<std::string(const std::string& program, const std::string& commandLine, bool shown)>
        startSystemProgram;
    // An environment variable ("OS").
    std::function<std::optional<std::string>(const std::string& name)> getVariable;
};

// The table of this system: rasapi32.dll and wininet.dll from the system
// folder, loaded once and kept; advapi32's registry calls; CreateProcessW
// with the program's full path.
DialUpApi SystemDialUpApi();

// Where the fields of one record lie: RASCONN and RASENTRYNAME as this build
// passes them (the old 32-bit layouts of 412 and 264 bytes in a 32-bit build,
// the platform's own in a 64-bit build).
struct RasLayout {
    std::uint32_t recordSize = 0;
    std::size_t handleOffset = 0;  // RASCONN only
    std::size_t handleSize = 0;    // RASCONN only
    std::size_t nameOffset = 0;
};
RasLayout RasConnLayout();
RasLayout RasEntryNameLayout();

class Win32DialUpNetworking : public DialUpNetworking {
public:
    explicit Win32DialUpNetworking(DialUpApi api) : api_(std::move(api)) {}

    ConnectionState GetConnectionState() override;
    // The link: NT: the modem bit of InternetGetConnectedState; 95/98: the
    // registry's "Remote Connection" value.
    ActiveDialUp GetActiveDialUp() override;
    Phonebook GetPhonebook() override;
    bool SameEntryNameIgnoringCase(const std::string& a, const std::string& b) override;  // win32_entry_names.cpp
    // NT: rasphone -d ...; 95/98: rundll rnaui.dll,RnaDial ...; shown.
    std::string StartDialer(const std::string& entry) override;
    // NT: rasdial ... /disconnect, hidden; 95/98: RasHangUpA on every listed
    // connection of that entry.
    std::string HangUp(const std::string& entry) override;

private:
    struct Connection {
        std::uintptr_t handle = 0;
        std::string entryName;
    };
    bool IsNt();
    bool IsDialUpLinkUp();
    std::vector<std::string> Entries();
    std::string DefaultEntry();
    std::vector<Connection> EnumConnections(bool& ok);

    DialUpApi api_;
};

}  // namespace vel::platform
