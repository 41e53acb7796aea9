#include "platform/win32/win32_dialup.h"

#include <algorithm>

#include "common/text.h"

namespace vel::win32 {

namespace {

std::uint32_t ReadUint32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void WriteUint32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Windows-1252 at 0x80..0x9F; the rest of the page is Latin-1.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

std::string NameBeforeNul(std::span<const std::uint8_t> bytes)
{
    const auto nul = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return Windows1252ToUtf8(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(nul - bytes.begin())));
}

}  // namespace

WindowsFamily WindowsFamilyFromOs(const std::optional<std::string>& os)
{
    return os && ToUpper(*os) == "WINDOWS_NT" ? WindowsFamily::NT : WindowsFamily::Win9x;
}

std::string DialCommandLine(WindowsFamily family, const std::string& entry)
{
    if (family == WindowsFamily::NT)
        return kNtDialPrefix + ("\"" + entry + "\"");
    return kWin9xDialPrefix + entry;
}

std::string HangUpCommandLine(const std::string& entry)
{
    return kNtHangUpPrefix + ("\"" + entry + "\"") + kNtHangUpSuffix;
}

std::vector<std::size_t> ConnectionsToHangUp(const std::vector<std::string>& listedEntries, const std::string& entry)
{
    const std::string_view wanted = TrimBlanks(entry);
    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < listedEntries.size(); ++i)
        if (TrimBlanks(listedEntries[i]) == wanted)
            matches.push_back(i);
    return matches;
}

std::vector<std::uint8_t> MakeRasConnBuffer()
{
    std::vector<std::uint8_t> buffer(kRasConnBufferSize, 0);
    WriteUint32(buffer, 0, kRasConnSize);
    return buffer;
}

std::vector<RasConnection> ReadRasConnections(std::span<const std::uint8_t> buffer, std::uint32_t count)
{
    const std::size_t records = std::min<std::size_t>(count, buffer.size() / kRasConnSize);
    std::vector<RasConnection> connections;
    connections.reserve(records);
    for (std::size_t i = 0; i < records; ++i) {
        const auto record = buffer.subspan(i * kRasConnSize, kRasConnSize);
        RasConnection connection;
        connection.handle = ReadUint32(record, kRasConnHandleOffset);
        connection.entryName = EntryNameFromBytes(record.subspan(kRasConnEntryNameOffset).first<kEntryNameFieldSize>());
        connections.push_back(std::move(connection));
    }
    return connections;
}

std::vector<std::uint8_t> MakeRasEntryNameBuffer()
{
    std::vector<std::uint8_t> buffer(kRasEntryNameBufferSize, 0);
    WriteUint32(buffer, 0, kRasEntryNameSize);
    return buffer;
}

std::vector<std::string> ReadRasEntryNames(std::span<const std::uint8_t> buffer, std::uint32_t count)
{
    const std::size_t records = std::min<std::size_t>(count, buffer.size() / kRasEntryNameSize);
    std::vector<std::string> names;
    names.reserve(records);
    for (std::size_t i = 0; i < records; ++i) {
        const auto record = buffer.subspan(i * kRasEntryNameSize, kRasEntryNameSize);
        names.push_back(EntryNameFromBytes(record.subspan(kRasEntryNameEntryOffset).first<kEntryNameFieldSize>()));
    }
    return names;
}

std::string EntryNameFromBytes(std::span<const std::uint8_t, kEntryNameFieldSize> field)
{
    return NameBeforeNul(field);
}

std::string Windows1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte <= 0x9F)
            AppendUtf8(out, kHighControls[byte - 0x80]);
        else
            AppendUtf8(out, byte);
    }
    return out;
}

bool RemoteConnectionIsUp(const std::optional<std::vector<std::uint8_t>>& value)
{
    // A longer value does not fit the 4-byte buffer: the query fails.
    if (!value || value->size() > 4)
        return false;
    std::vector<std::uint8_t> number(4, 0);
    std::copy(value->begin(), value->end(), number.begin());
    return ReadUint32(number, 0) != 0;
}

std::string DefaultEntryFromValue(const std::optional<std::vector<std::uint8_t>>& value)
{
    if (!value || value->empty())
        return {};
    return NameBeforeNul(std::span<const std::uint8_t>(*value).first(value->size() - 1));
}

}  // namespace vel::win32
