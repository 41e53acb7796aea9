// Dial-up networking on Windows through a replaceable function table (Wine's
// RAS is an empty stub): the NT and 95/98 branches, the records this build
// passes, the registry values, the command lines; and the system's own table.
#include "platform/win32/win32_dialup_networking.h"

#include <windows.h>
#include <ras.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/win32/win32_dialup.h"
#include "platform/win32/win32_text.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

struct FakeSystem {
    std::optional<std::string> os;
    bool connected = false;
    std::uint32_t flags = 0;
    struct Listed {
        std::uintptr_t handle;
        std::string name;
    };
    std::vector<Listed> connections;
    std::vector<std::string> entries;
    std::uint32_t enumCode = 0;
    std::map<std::string, std::vector<std::uint8_t>> registry;  // "HKLM\key\value"
    // What the calls saw.
    std::vector<std::uint32_t> connectionBytes, connectionRecordSizes;
    std::vector<std::uint32_t> entryBytes, entryRecordSizes;
    std::vector<std::uintptr_t> hungUp;
    struct Started {
        std::string program, commandLine;
        bool shown;
        bool operator==(const Started&) const = default;
    };
    std::vector<Started> started;
    std::string startFailure;  // what starting a program answers
    std::vector<std::pair<std::string, std::uint32_t>> registryReads;

    static std::uint32_t FirstSize(const void* records)
    {
        std::uint32_t size = 0;
        std::memcpy(&size, records, sizeof size);
        return size;
    }

    DialUpApi Api()
    {
        DialUpApi api;
        api.internetGetConnectedState = [this](std::uint32_t& out) {
            out = flags;
            return connected;
        };
        api.rasEnumConnections = [this](void* records, std::uint32_t& bytes, std::uint32_t& count) {
            connectionBytes.push_back(bytes);
            connectionRecordSizes.push_back(FirstSize(records));
            const RasLayout layout = RasConnLayout();
            auto* base = static_cast<std::uint8_t*>(records);
            for (std::size_t i = 0; i < connections.size(); ++i) {
                std::uint8_t* record = base + i * layout.recordSize;
                std::memcpy(record + layout.handleOffset, &connections[i].handle, layout.handleSize);
                std::memcpy(record + layout.nameOffset, connections[i].name.c_str(), connections[i].name.size() + 1);
            }
            count = static_cast<std::uint32_t>(connections.size());
            return enumCode;
        };
        api.rasEnumEntries = [this](void* records, std::uint32_t& bytes, std::uint32_t& count) {
            entryBytes.push_back(bytes);
            entryRecordSizes.push_back(FirstSize(records));
            const RasLayout layout = RasEntryNameLayout();
            auto* base = static_cast<std::uint8_t*>(records);
            for (std::size_t i = 0; i < entries.size(); ++i)
                std::memcpy(base + i * layout.recordSize + layout.nameOffset, entries[i].c_str(),
                            entries[i].size() + 1);
            count = static_cast<std::uint32_t>(entries.size());
            return enumCode;
        };
        api.rasHangUp = [this](std::uintptr_t handle) {
            hungUp.push_back(handle);
            return 0u;
        };
        api.readRegistryValue = [this](bool localMachine, const std::string& key, const std::string& value,
                                       std::uint32_t maxBytes) -> std::optional<std::vector<std::uint8_t>> {
            const std::string name = (localMachine ? "HKLM\\" : "HKCU\\") + key + "\\" + value;
            registryReads.emplace_back(name, maxBytes);
            auto it = registry.find(name);
            if (it == registry.end() || (maxBytes > 0 && it->second.size() > maxBytes))
                return std::nullopt;
            return it->second;
        };
        api.startSystemProgram = [this](const std::string& program, const std::string& commandLine, bool shown) {
            started.push_back({program, commandLine, shown});
            return startFailure;
        };
        api.getVariable = [this](const std::string& name) { return name == "OS" ? os : std::nullopt; };
        return api;
    }
};

TEST(Win32DialUp, RecordsAreTheLayoutsOfThisBuild)
{
#if defined(_WIN64)
    // The platform's own layouts (8-byte handles).
    EXPECT_EQ(RasConnLayout().recordSize, sizeof(RASCONNA));
    EXPECT_EQ(RasConnLayout().handleSize, 8u);
    EXPECT_EQ(RasEntryNameLayout().recordSize, sizeof(RASENTRYNAMEA));
#else
    // The old 32-bit ANSI layouts: 412 and 264 bytes.
    EXPECT_EQ(RasConnLayout().recordSize, 412u);
    EXPECT_EQ(RasConnLayout().handleOffset, 4u);
    EXPECT_EQ(RasConnLayout().nameOffset, 8u);
    EXPECT_EQ(RasEntryNameLayout().recordSize, 264u);
    EXPECT_EQ(RasEntryNameLayout().nameOffset, 4u);
#endif
}

TEST(Win32DialUp, ActiveConnectionsAndEntriesComeFromTheRecords)
{
    FakeSystem system;
    system.connections = {{0x1234, "My ISP"}, {0x5678, "Caf\xE9 net"}};
    system.entries = {"beta", "Alpha", "alpha"};
    Win32DialUpNetworking dialUp(system.Api());

    EXPECT_EQ(dialUp.GetActiveDialUp().entries, (std::vector<std::string>{"My ISP", "Caf\xC3\xA9 net"}));
    // In the system's order; the caller sorts.
    EXPECT_EQ(dialUp.GetPhonebook().entries, (std::vector<std::string>{"beta", "Alpha", "alpha"}));

    // 256 records each, dwSize set in the first.
    const RasLayout connection = RasConnLayout();
    const RasLayout entry = RasEntryNameLayout();
    ASSERT_EQ(system.connectionBytes.size(), 1u);
    EXPECT_EQ(system.connectionBytes[0], connection.recordSize * 256u);
    EXPECT_EQ(system.connectionRecordSizes[0], connection.recordSize);
    EXPECT_EQ(system.entryBytes[0], entry.recordSize * 256u);
    EXPECT_EQ(system.entryRecordSizes[0], entry.recordSize);
#if !defined(_WIN64)
    EXPECT_EQ(system.connectionBytes[0], 105472u);
    EXPECT_EQ(system.entryBytes[0], 67584u);
#endif
}

TEST(Win32DialUp, TheNtFamilyDialsAndHangsUpWithTheSystemsPrograms)
{
    FakeSystem system;
    system.os = "Windows_NT";
    system.connections = {{7, "My ISP"}};
    Win32DialUpNetworking dialUp(system.Api());

    EXPECT_EQ(dialUp.StartDialer("My ISP"), "");
    EXPECT_EQ(dialUp.HangUp("My ISP"), "");
    ASSERT_EQ(system.started.size(), 2u);
    EXPECT_EQ(system.started[0], (FakeSystem::Started{"rasphone.exe", "rasphone -d \"My ISP\"", true}));
    EXPECT_EQ(system.started[1], (FakeSystem::Started{"rasdial.exe", "rasdial \"My ISP\" /disconnect", false}));
    EXPECT_TRUE(system.hungUp.empty());

    // A program that does not start says why (Wine has neither).
    system.startFailure = "C:\\windows\\system32\\rasphone.exe could not be started: File not found (error 2)";
    EXPECT_EQ(dialUp.StartDialer("My ISP"), system.startFailure);
    EXPECT_EQ(dialUp.HangUp("My ISP"), system.startFailure);
    system.startFailure.clear();

    // The link: the modem bit of the connected state.
    system.flags = INTERNET_CONNECTION_LAN;
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    system.flags = INTERNET_CONNECTION_MODEM | INTERNET_RAS_INSTALLED;
    EXPECT_TRUE(dialUp.GetActiveDialUp().linkUp);
    EXPECT_TRUE(system.registryReads.empty());

    // The variable's case does not matter.
    system.os = "windows_nt";
    dialUp.StartDialer("x");
    EXPECT_EQ(system.started.back().commandLine, "rasphone -d \"x\"");
}

TEST(Win32DialUp, The95FamilyDialsWithRnaAndHangsUpThroughRas)
{
    FakeSystem system;  // "OS" unset
    system.connections = {{11, " My ISP "}, {12, "Other"}, {13, "My ISP"}, {14, "my isp"}};
    Win32DialUpNetworking dialUp(system.Api());

    dialUp.StartDialer("My ISP");
    ASSERT_EQ(system.started.size(), 1u);
    EXPECT_EQ(system.started[0], (FakeSystem::Started{"rundll.exe", "rundll rnaui.dll,RnaDial My ISP", true}));

    // Every listed connection of that entry, blanks around it ignored, case not.
    dialUp.HangUp("  My ISP");
    EXPECT_EQ(system.hungUp, (std::vector<std::uintptr_t>{11, 13}));
    EXPECT_EQ(system.started.size(), 1u);

    // A failed enumeration hangs nothing up.
    system.hungUp.clear();
    system.enumCode = 632;  // ERROR_INVALID_SIZE
    dialUp.HangUp("My ISP");
    EXPECT_TRUE(system.hungUp.empty());

    // The link: "Remote Connection" under HKLM, read into four bytes.
    const std::string value = std::string("HKLM\\") + win32::kRemoteAccessKey + "\\" + win32::kRemoteConnectionValue;
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    system.registry[value] = {1, 0, 0, 0};
    EXPECT_TRUE(dialUp.GetActiveDialUp().linkUp);
    system.registry[value] = {0, 0, 0, 0};
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    system.registry[value] = {1, 0, 0, 0, 0};  // does not fit the buffer
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    for (const auto& read : system.registryReads)
        EXPECT_EQ(read.second, 4u);
}

TEST(Win32DialUp, TheDefaultEntryIsTheUsersRegistryValue)
{
    FakeSystem system;
    Win32DialUpNetworking dialUp(system.Api());
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "");
    system.registry["HKCU\\RemoteAccess\\Default"] = {'M', 'y', ' ', 'I', 'S', 'P', 0};
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "My ISP");
    system.registry["HKCU\\RemoteAccess\\Default"] = {0};
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "");
    ASSERT_FALSE(system.registryReads.empty());
    EXPECT_EQ(system.registryReads.back().second, 0u);  // the size is learnt first
}

TEST(Win32DialUp, TheConnectedStateIsPassedOn)
{
    FakeSystem system;
    system.connected = true;
    system.flags = INTERNET_CONNECTION_LAN | INTERNET_RAS_INSTALLED;
    Win32DialUpNetworking dialUp(system.Api());
    EXPECT_TRUE(dialUp.GetConnectionState() == (ConnectionState{.online = true, .lan = true, .dialUpInstalled = true}));
    // Each flag to its own field.
    const std::pair<std::uint32_t, bool ConnectionState::*> fields[] = {
        {INTERNET_CONNECTION_MODEM, &ConnectionState::modem},
        {INTERNET_CONNECTION_LAN, &ConnectionState::lan},
        {INTERNET_CONNECTION_PROXY, &ConnectionState::proxy},
        {INTERNET_RAS_INSTALLED, &ConnectionState::dialUpInstalled},
        {INTERNET_CONNECTION_OFFLINE, &ConnectionState::offline},
        {INTERNET_CONNECTION_CONFIGURED, &ConnectionState::configured},
    };
    system.connected = false;
    for (const auto& [flag, field] : fields) {
        system.flags = flag;
        ConnectionState expected;
        expected.*field = true;
        EXPECT_TRUE(dialUp.GetConnectionState() == expected) << flag;
    }
}

TEST(Win32DialUp, WithoutTheLibrariesEveryAnswerIsEmpty)
{
    Win32DialUpNetworking dialUp(DialUpApi{});
    EXPECT_TRUE(dialUp.GetConnectionState() == ConnectionState{});
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    EXPECT_TRUE(dialUp.GetActiveDialUp().entries.empty());
    EXPECT_TRUE(dialUp.GetPhonebook().entries.empty());
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "");
    EXPECT_EQ(dialUp.StartDialer("My ISP"), "the system's dialer cannot be started");
    EXPECT_EQ(dialUp.HangUp("My ISP"), "");  // 95/98: no connection listed to hang up
}

// The dialer and the hang-up program start from the system folder by their
// full path: a program of the same name beside this one or on the PATH is
// never tried (a file that is no program would fail with another error).
TEST(Win32DialUp, SystemProgramsStartFromTheSystemFolderOnly)
{
    wchar_t module[MAX_PATH];
    std::wstring folder(module, ::GetModuleFileNameW(nullptr, module, MAX_PATH));
    folder.resize(folder.rfind(L'\\'));
    wchar_t system[MAX_PATH];
    const std::wstring systemFolder(system, ::GetSystemDirectoryW(system, MAX_PATH));
    const DialUpApi api = SystemDialUpApi();
    for (const char* program : {"rasphone.exe", "rasdial.exe"}) {
        SCOPED_TRACE(program);
        const std::wstring planted = folder + L"\\" + Widen(program);
        ::CloseHandle(::CreateFileW(planted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        const std::wstring path = Widen(::getenv("PATH") ? ::getenv("PATH") : "");
        ::SetEnvironmentVariableW(L"PATH", (folder + L";" + path).c_str());
        const std::string failure = api.startSystemProgram(program, std::string(program) + " \"x\"", false);
        ::SetEnvironmentVariableW(L"PATH", path.c_str());
        ::DeleteFileW(planted.c_str());
        // Wine has neither program.
        EXPECT_EQ(failure, Narrow(systemFolder) + "\\" + program +
                               " could not be started: " + SystemErrorText(ERROR_FILE_NOT_FOUND) + " (error 2)");
    }
}

TEST(Win32DialUp, TheSystemsOwnLibraries)
{
    // Wine's RAS lists nothing; what matters is that the calls are made with
    // this build's records and come back.
    Win32DialUpNetworking dialUp(SystemDialUpApi());
    EXPECT_TRUE(dialUp.GetActiveDialUp().entries.empty());
    EXPECT_TRUE(dialUp.GetPhonebook().entries.empty());
    const ConnectionState state = dialUp.GetConnectionState();
    if (test::TestVariable("VELTRANE_TEST_ONLINE") == "1") {
        // The namespace has a default route over loopback.
        EXPECT_TRUE(state.online);
        EXPECT_TRUE(state.lan);
        EXPECT_FALSE(state.modem);
    }
}

}  // namespace
}  // namespace vel::platform
