// The Windows dial-up pieces: family, command lines, record layouts, names.
#include "platform/win32/win32_dialup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace vel::win32 {
namespace {

using Bytes = std::vector<std::uint8_t>;

void PutName(Bytes& buffer, std::size_t offset, const std::string& name)
{
    std::memcpy(buffer.data() + offset, name.data(), name.size());
}

void PutUint32(Bytes& buffer, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        buffer[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(WindowsFamily, FromTheOsVariableInAnyCase)
{
    EXPECT_EQ(WindowsFamilyFromOs(std::nullopt), WindowsFamily::Win9x);  // unset
    for (const char* nt : {"Windows_NT", "WINDOWS_NT", "windows_nt", "wINDOWS_nT"})
        EXPECT_EQ(WindowsFamilyFromOs(nt), WindowsFamily::NT) << nt;
    for (const char* other : {"", "Windows", "Windows_NT ", " Windows_NT", "Windows_95", "Linux"})
        EXPECT_EQ(WindowsFamilyFromOs(other), WindowsFamily::Win9x) << '"' << other << '"';
}

TEST(CommandLines, NtQuotesTheNameAnd9xPassesItBare)
{
    EXPECT_EQ(DialCommandLine(WindowsFamily::NT, "My ISP"), "rasphone -d \"My ISP\"");
    EXPECT_EQ(DialCommandLine(WindowsFamily::Win9x, "My ISP"), "rundll rnaui.dll,RnaDial My ISP");
    EXPECT_EQ(HangUpCommandLine("My ISP"), "rasdial \"My ISP\" /disconnect");
    EXPECT_EQ(DialCommandLine(WindowsFamily::NT, ""), "rasphone -d \"\"");
    EXPECT_EQ(HangUpCommandLine(" x "), "rasdial \" x \" /disconnect");
}

TEST(HangUp9x, EveryTrimmedExactCaseSensitiveMatch)
{
    const std::vector<std::string> listed{"  My ISP ", "Other", "My ISP", "my isp", "My ISP\t", "My  ISP"};
    EXPECT_EQ(ConnectionsToHangUp(listed, "My ISP"), (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(ConnectionsToHangUp(listed, "   My ISP  "), (std::vector<std::size_t>{0, 2}));
    EXPECT_TRUE(ConnectionsToHangUp(listed, "MY ISP").empty());
    EXPECT_TRUE(ConnectionsToHangUp({}, "My ISP").empty());
    EXPECT_EQ(ConnectionsToHangUp({"", "  "}, ""), (std::vector<std::size_t>{0, 1}));
}

TEST(RasConn, BufferLayoutAndRecordsReadBack)
{
    Bytes buffer = MakeRasConnBuffer();
    ASSERT_EQ(buffer.size(), 105472u);
    EXPECT_EQ(buffer[0], 0x9C);  // 412, little-endian
    EXPECT_EQ(buffer[1], 0x01);
    EXPECT_EQ(buffer[2], 0x00);
    EXPECT_EQ(buffer[3], 0x00);
    EXPECT_TRUE(std::all_of(buffer.begin() + 4, buffer.end(), [](std::uint8_t b) { return b == 0; }));

    // As RasEnumConnectionsA leaves it: two records, 412 bytes apart.
    PutUint32(buffer, 4, 0x00010203);
    PutName(buffer, 8,
            "Dial \xFC"
            "ber Land");
    PutName(buffer, 8 + 257, "modem");  // szDeviceType follows the name
    PutUint32(buffer, 412 + 4, 0xCAFEF00D);
    PutName(buffer, 412 + 8, std::string(257, 'x'));  // no NUL: the whole field

    const auto connections = ReadRasConnections(buffer, 2);
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0].handle, 0x00010203u);
    EXPECT_EQ(connections[0].entryName,
              "Dial \xC3\xBC"
              "ber Land");
    EXPECT_EQ(connections[1].handle, 0xCAFEF00Du);
    EXPECT_EQ(connections[1].entryName, std::string(257, 'x'));

    EXPECT_TRUE(ReadRasConnections(buffer, 0).empty());
    EXPECT_EQ(ReadRasConnections(buffer, 1000).size(), 256u);
    EXPECT_EQ(ReadRasConnections(std::span<const std::uint8_t>(buffer).first(500), 2).size(), 1u);
}

TEST(RasEntryName, BufferLayoutAndNamesReadBack)
{
    Bytes buffer = MakeRasEntryNameBuffer();
    ASSERT_EQ(buffer.size(), 67584u);
    EXPECT_EQ(buffer[0], 0x08);  // 264, little-endian
    EXPECT_EQ(buffer[1], 0x01);
    EXPECT_EQ(buffer[2], 0x00);
    EXPECT_EQ(buffer[3], 0x00);

    PutName(buffer, 4, "beta");
    PutName(buffer, 264 + 4, "Alpha");
    PutName(buffer, 2 * 264 + 4, "");
    EXPECT_EQ(ReadRasEntryNames(buffer, 3), (std::vector<std::string>{"beta", "Alpha", ""}));
    EXPECT_EQ(ReadRasEntryNames(buffer, 300).size(), 256u);
}

TEST(EntryNameFromBytes, StopsAtTheFirstNulAndDecodesWindows1252)
{
    std::array<std::uint8_t, kEntryNameFieldSize> field{};
    const std::string raw = "Caf\xE9 \x80 \x93quoted\x94 \x81";
    std::memcpy(field.data(), raw.data(), raw.size());
    field[raw.size() + 1] = 'X';  // after the NUL: not part of the name
    EXPECT_EQ(EntryNameFromBytes(field), "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cquoted\xE2\x80\x9D \xC2\x81");

    field.fill(0);
    EXPECT_EQ(EntryNameFromBytes(field), "");

    EXPECT_EQ(Windows1252ToUtf8("plain ASCII"), "plain ASCII");
    EXPECT_EQ(Windows1252ToUtf8("\xFF\xA0\x9F"), "\xC3\xBF\xC2\xA0\xC5\xB8");
}

TEST(Registry, KeysValuesAndTheirReading)
{
    EXPECT_STREQ(kRemoteAccessKey, "System\\CurrentControlSet\\Services\\RemoteAccess");
    EXPECT_STREQ(kRemoteConnectionValue, "Remote Connection");
    EXPECT_STREQ(kUserRemoteAccessKey, "RemoteAccess");
    EXPECT_STREQ(kDefaultEntryValue, "Default");

    EXPECT_FALSE(RemoteConnectionIsUp(std::nullopt));
    EXPECT_FALSE(RemoteConnectionIsUp(Bytes{0, 0, 0, 0}));
    EXPECT_TRUE(RemoteConnectionIsUp(Bytes{1, 0, 0, 0}));
    EXPECT_TRUE(RemoteConnectionIsUp(Bytes{0, 0, 0, 0x80}));
    EXPECT_TRUE(RemoteConnectionIsUp(Bytes{0, 1}));
    EXPECT_FALSE(RemoteConnectionIsUp(Bytes{1, 0, 0, 0, 0}));  // does not fit 4 bytes

    EXPECT_EQ(DefaultEntryFromValue(std::nullopt), "");
    EXPECT_EQ(DefaultEntryFromValue(Bytes{}), "");
    EXPECT_EQ(DefaultEntryFromValue(Bytes{0}), "");
    EXPECT_EQ(DefaultEntryFromValue(Bytes{'I', 'S', 'P', 0}), "ISP");
    EXPECT_EQ(DefaultEntryFromValue(Bytes{'I', 'S', 'P', '!'}), "ISP");  // size - 1 bytes
    EXPECT_EQ(DefaultEntryFromValue(Bytes{'M', 0xFC, 'n', 0}), "M\xC3\xBCn");
    EXPECT_EQ(DefaultEntryFromValue(Bytes{'A', 0, 'B', 0}), "A");
}

}  // namespace
}  // namespace vel::win32
