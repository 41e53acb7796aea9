// The pieces of Windows dial-up networking that need no Windows headers: the
// system family, the dial and hang-up command lines, the record layouts of
// RasEnumConnectionsA and RasEnumEntriesA, and the registry keys and values.
// A Win32 back end of DialUpNetworking calls the API and leaves the rest to
// these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vel::win32 {

// Three dial-up operations differ between the families.
enum class WindowsFamily { NT, Win9x };

// From the environment variable "OS", read at each call: upper-cased and
// equal to "WINDOWS_NT" is the NT family; anything else, unset included, 95/98.
WindowsFamily WindowsFamilyFromOs(const std::optional<std::string>& os);

// The dialer, started with its window shown and activated:
// NT: rasphone -d "Entry"; 95/98: rundll rnaui.dll,RnaDial Entry (bare).
inline constexpr const char* kNtDialPrefix = "rasphone -d ";
inline constexpr const char* kWin9xDialPrefix = "rundll rnaui.dll,RnaDial ";
std::string DialCommandLine(WindowsFamily family, const std::string& entry);

// The NT hang-up, started with a hidden window: rasdial "Entry" /disconnect.
inline constexpr const char* kNtHangUpPrefix = "rasdial ";
inline constexpr const char* kNtHangUpSuffix = " /disconnect";
std::string HangUpCommandLine(const std::string& entry);

// The programs of these command lines, by their file names: each is started
// from the system's own folders, never from the program's folder or the PATH.
inline constexpr const char* kNtDialProgram = "rasphone.exe";
inline constexpr const char* kWin9xDialProgram = "rundll.exe";
inline constexpr const char* kNtHangUpProgram = "rasdial.exe";
inline const char* DialProgram(WindowsFamily family)
{
    return family == WindowsFamily::NT ? kNtDialProgram : kWin9xDialProgram;
}

// The 95/98 hang-up: the positions of every listed connection whose entry
// name equals `entry`, both without leading and trailing blanks, exactly and
// case-sensitively.
std::vector<std::size_t> ConnectionsToHangUp(const std::vector<std::string>& listedEntries, const std::string& entry);

// An entry-name field: RAS_MaxEntryName (256) characters and the NUL.
inline constexpr std::size_t kEntryNameFieldSize = 257;

// RASCONN, the 32-bit ANSI layout of Windows 95 and NT 4.0 (little-endian):
// dwSize at 0, hrasconn (32-bit) at 4, szEntryName at 8, szDeviceType (17) at
// 265, szDeviceName (129) at 282; 411 bytes of fields, 412 with alignment. A
// 64-bit build's headers give 708 bytes (8-byte handles).
inline constexpr std::uint32_t kRasConnSize = 412;
inline constexpr std::size_t kRasConnHandleOffset = 4;
inline constexpr std::size_t kRasConnEntryNameOffset = 8;
inline constexpr std::size_t kRasConnRecords = 256;
inline constexpr std::uint32_t kRasConnBufferSize = 105472;  // dwSize times 256
static_assert(kRasConnSize * kRasConnRecords == kRasConnBufferSize);
static_assert(kRasConnEntryNameOffset + kEntryNameFieldSize + 17 + 129 == 411);

// RASENTRYNAME, ANSI: dwSize at 0, szEntryName at 4; 264 bytes with alignment.
inline constexpr std::uint32_t kRasEntryNameSize = 264;
inline constexpr std::size_t kRasEntryNameEntryOffset = 4;
inline constexpr std::size_t kRasEntryNameRecords = 256;
inline constexpr std::uint32_t kRasEntryNameBufferSize = 67584;  // dwSize times 256
static_assert(kRasEntryNameSize * kRasEntryNameRecords == kRasEntryNameBufferSize);

struct RasConnection {
    std::uint32_t handle = 0;  // hrasconn, for RasHangUpA
    std::string entryName;     // UTF-8
};

// A zeroed buffer of 105472 bytes with 412 in the first record's dwSize, for
// RasEnumConnectionsA (its size goes in lpcb).
std::vector<std::uint8_t> MakeRasConnBuffer();

// The first `count` records of a filled buffer (at most as many as the
// buffer holds whole).
std::vector<RasConnection> ReadRasConnections(std::span<const std::uint8_t> buffer, std::uint32_t count);

// A zeroed buffer of 67584 bytes with 264 in the first record's dwSize, for
// RasEnumEntriesA.
std::vector<std::uint8_t> MakeRasEntryNameBuffer();

// The entry names of the first `count` records, in the order returned.
std::vector<std::string> ReadRasEntryNames(std::span<const std::uint8_t> buffer, std::uint32_t count);

// The bytes of the field before its first NUL (all 257 when there is none),
// decoded from the ANSI code page as Windows-1252 (Latin-1 with the printable
// characters of 0x80..0x9F) into UTF-8.
std::string EntryNameFromBytes(std::span<const std::uint8_t, kEntryNameFieldSize> field);

// Windows-1252 text as UTF-8. The five bytes that code page leaves undefined
// map to the control characters of the same number, as Windows does.
std::string Windows1252ToUtf8(std::string_view text);

// Whether a dial-up link is up on 95/98: the "Remote Connection" value under
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\RemoteAccess, queried
// into a 4-byte buffer.
inline constexpr const char* kRemoteAccessKey = "System\\CurrentControlSet\\Services\\RemoteAccess";
inline constexpr const char* kRemoteConnectionValue = "Remote Connection";
// `value`: the value's bytes; nullopt when the key or the value could not be
// read. Up when they fit the 4 bytes and, read as a little-endian 32-bit
// number (missing bytes 0), are not 0.
bool RemoteConnectionIsUp(const std::optional<std::vector<std::uint8_t>>& value);

// The user's default entry: the "Default" value under HKEY_CURRENT_USER\RemoteAccess.
inline constexpr const char* kUserRemoteAccessKey = "RemoteAccess";
inline constexpr const char* kDefaultEntryValue = "Default";
// The value's text without its terminating NUL (its first size - 1 bytes,
// ending early at a NUL), decoded as EntryNameFromBytes does; empty when the
// value could not be read or is empty.
std::string DefaultEntryFromValue(const std::optional<std::vector<std::uint8_t>>& value);

}  // namespace vel::win32
