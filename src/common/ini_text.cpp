#include "common/ini_text.h"

#include <cstddef>
#include <cstdint>

#include "common/text.h"

namespace vel::ini {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// The text up to its first CR or LF.
std::string_view FirstLine(std::string_view text)
{
    return text.substr(0, text.find_first_of("\r\n"));
}

enum class LineKind { Blank, Comment, Header, Key, Other };

// One line of the text: [begin, contentEnd) is the line without its end,
// [contentEnd, end) the line end (empty for a last line without one).
struct Line {
    std::size_t begin = 0;
    std::size_t contentEnd = 0;
    std::size_t end = 0;
    LineKind kind = LineKind::Other;
    std::string_view name;        // Header: section name; Key: key name (both trimmed)
    std::size_t afterEquals = 0;  // Key: just after the "="
    std::size_t valueBegin = 0;   // Key: where the trimmed value starts
    std::string_view value;       // Key: the trimmed value, quotes still on
};

class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text)
    {
        if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            skipAtStart_ = kByteOrderMark.size();
    }

    bool Next(Line& line)
    {
        if (pos_ >= text_.size())
            return false;
        line = Line{};
        line.begin = pos_;
        std::size_t breakAt = text_.find_first_of("\r\n", pos_);
        if (breakAt == std::string_view::npos) {
            line.contentEnd = line.end = text_.size();
        } else {
            line.contentEnd = breakAt;
            line.end = breakAt + 1;
            if (text_[breakAt] == '\r' && breakAt + 1 < text_.size() && text_[breakAt + 1] == '\n')
                ++line.end;
        }
        pos_ = line.end;
        Classify(line);
        return true;
    }

private:
    void Classify(Line& line)
    {
        std::size_t start = line.begin == 0 ? skipAtStart_ : line.begin;
        if (start > line.contentEnd)
            start = line.contentEnd;
        std::string_view content = text_.substr(start, line.contentEnd - start);
        std::size_t lead = 0;
        while (lead < content.size() && IsBlankOrTab(content[lead]))
            ++lead;
        if (lead == content.size()) {
            line.kind = LineKind::Blank;
            return;
        }
        if (content[lead] == ';') {
            line.kind = LineKind::Comment;
            return;
        }
        if (content[lead] == '[') {
            std::size_t close = content.find(']', lead + 1);
            if (close != std::string_view::npos) {
                line.kind = LineKind::Header;
                line.name = TrimBlanksAndTabs(content.substr(lead + 1, close - lead - 1));
                return;
            }
        }
        std::size_t equals = content.find('=', lead);
        if (equals == std::string_view::npos) {
            line.kind = LineKind::Other;
            return;
        }
        line.kind = LineKind::Key;
        line.name = TrimBlanksAndTabs(content.substr(lead, equals - lead));
        std::size_t valueStart = equals + 1;
        while (valueStart < content.size() && IsBlankOrTab(content[valueStart]))
            ++valueStart;
        line.afterEquals = start + equals + 1;
        line.valueBegin = start + valueStart;
        line.value = TrimBlanksAndTabs(content.substr(valueStart));
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t skipAtStart_ = 0;
};

std::string Unquote(std::string_view value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// Where a write lands in the text.
struct Target {
    bool sectionFound = false;
    bool keyFound = false;
    Line keyLine;          // keyFound: the line to replace
    Line lastContentLine;  // sectionFound && !keyFound: the line to add after
};

Target FindTarget(std::string_view content, std::string_view section, std::string_view key)
{
    Target target;
    LineReader reader(content);
    Line line;
    bool inSection = false;
    while (reader.Next(line)) {
        if (line.kind == LineKind::Header) {
            if (inSection)
                break;  // the end of the first matching section
            if (SameName(line.name, section)) {
                inSection = true;
                target.sectionFound = true;
                target.lastContentLine = line;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (line.kind == LineKind::Key && SameName(line.name, key)) {
            target.keyFound = true;
            target.keyLine = line;
            return target;
        }
        if (line.kind != LineKind::Blank)
            target.lastContentLine = line;
    }
    return target;
}

// The line end that new lines get: that of the first line, CR LF when none.
std::string_view LineEndOf(std::string_view content)
{
    std::size_t breakAt = content.find_first_of("\r\n");
    if (breakAt == std::string_view::npos)
        return "\r\n";
    if (content[breakAt] == '\r') {
        return (breakAt + 1 < content.size() && content[breakAt + 1] == '\n') ? std::string_view("\r\n")
                                                                              : std::string_view("\r");
    }
    return "\n";
}

}  // namespace

std::optional<std::string> ReadValue(std::string_view content, std::string_view section, std::string_view key)
{
    section = TrimBlanksAndTabs(section);
    key = TrimBlanksAndTabs(key);
    LineReader reader(content);
    Line line;
    bool inSection = false;
    while (reader.Next(line)) {
        if (line.kind == LineKind::Header) {
            if (inSection)
                return std::nullopt;  // only the first section of that name counts
            inSection = SameName(line.name, section);
        } else if (inSection && line.kind == LineKind::Key && SameName(line.name, key)) {
            return Unquote(line.value);
        }
    }
    return std::nullopt;
}

std::string WriteValue(std::string_view content, std::string_view section, std::string_view key, std::string_view value)
{
    section = FirstLine(section);
    key = FirstLine(key);
    value = FirstLine(value);

    const std::string_view lineEnd = LineEndOf(content);
    const Target target = FindTarget(content, TrimBlanksAndTabs(section), TrimBlanksAndTabs(key));

    std::string result;
    result.reserve(content.size() + section.size() + key.size() + value.size() + 8);

    if (target.keyFound) {
        // Everything before the old value stays, and so does the line's end.
        // The blanks between "=" and the old value stay only between two
        // values that are not empty, and not before a new value with blanks
        // of its own: a second write of the same value then changes nothing.
        const Line& old = target.keyLine;
        const bool keepGap = !old.value.empty() && !value.empty() && !IsBlankOrTab(value.front());
        result.append(content.substr(0, keepGap ? old.valueBegin : old.afterEquals));
        result.append(value);
        result.append(content.substr(target.keyLine.contentEnd));
        return result;
    }

    if (target.sectionFound) {
        const Line& after = target.lastContentLine;
        result.append(content.substr(0, after.end));
        if (after.end == after.contentEnd)
            result.append(lineEnd);  // it was the last line, without an end
        result.append(key).append("=").append(value).append(lineEnd);
        result.append(content.substr(after.end));
        return result;
    }

    result.append(content);
    if (!content.empty() && content.back() != '\n' && content.back() != '\r')
        result.append(lineEnd);
    result.append("[").append(section).append("]").append(lineEnd);
    result.append(key).append("=").append(value).append(lineEnd);
    return result;
}

std::optional<std::string> ProfileValue(std::string_view text, bool whole, std::string_view section,
                                        std::string_view key)
{
    if (!whole) {
        const std::size_t lastBreak = text.find_last_of("\r\n");
        text = text.substr(0, lastBreak == std::string_view::npos ? 0 : lastBreak + 1);
    }
    return ReadValue(text, section, key);
}

namespace {

constexpr std::string_view kUtf16ByteOrderMark = "\xFF\xFE";

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::string& out, std::uint32_t unit)
{
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
}

// The code point of the UTF-8 sequence at `at` (a surrogate's three-byte form
// included), and its length; U+FFFD and 1 for a byte that begins none.
std::uint32_t NextCodePoint(std::string_view text, std::size_t at, std::size_t& length)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t first = byte(0);
    length = 1;
    if (first < 0x80)
        return first;
    const std::size_t need = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 0;
    if (need == 0 || first > 0xF4 || at + need > text.size())
        return 0xFFFD;
    std::uint32_t c = first & (0x7F >> need);
    for (std::size_t i = 1; i < need; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0xFFFD;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[need] || c > 0x10FFFF)
        return 0xFFFD;
    length = need;
    return c;
}

}  // namespace

FileContent DecodeFile(std::string_view bytes)
{
    FileContent content;
    if (bytes.substr(0, kUtf16ByteOrderMark.size()) != kUtf16ByteOrderMark) {
        content.text = std::string(bytes);
        return content;
    }
    content.encoding = Encoding::Utf16LE;
    bytes.remove_prefix(kUtf16ByteOrderMark.size());
    if (bytes.size() % 2 != 0) {
        content.oddByte = std::string(bytes.substr(bytes.size() - 1));
        bytes.remove_suffix(1);
    }
    content.text.reserve(bytes.size());
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
    };
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 2 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(content.text, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(content.text, c);  // a lone surrogate too
    }
    return content;
}

std::string EncodeFile(const FileContent& content)
{
    if (content.encoding == Encoding::Bytes)
        return content.text;
    std::string bytes(kUtf16ByteOrderMark);
    bytes.reserve(2 + content.text.size() * 2 + content.oddByte.size());
    for (std::size_t at = 0, length = 0; at < content.text.size(); at += length) {
        const std::uint32_t c = NextCodePoint(content.text, at, length);
        if (c >= 0x10000) {
            AppendUtf16(bytes, 0xD800 + ((c - 0x10000) >> 10));
            AppendUtf16(bytes, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            AppendUtf16(bytes, c);
        }
    }
    return bytes + content.oddByte;
}

std::string EncodingProblem(std::string_view bytes)
{
    using namespace std::string_view_literals;
    if (bytes.substr(0, 4) == "\0\0\xFE\xFF"sv)
        return "UTF-32 big-endian";
    if (bytes.substr(0, 4) == "\xFF\xFE\0\0"sv)
        return "UTF-32 little-endian";
    if (bytes.substr(0, 2) == "\xFE\xFF"sv)
        return "UTF-16 big-endian";
    if (DecodeFile(bytes).text.find('\0') != std::string::npos)
        return "NUL bytes: UTF-16 or UTF-32 without a byte order mark, or no text";
    return {};
}

}  // namespace vel::ini
