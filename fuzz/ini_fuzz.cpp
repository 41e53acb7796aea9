// libFuzzer target for the INI text reader and writer.
//
// The input is split into a section, a key, a value, a second section and
// key to look at, and the file's text. Checked on every input:
// - a write changes at most one line: the bytes it removes hold no line break;
// - after a write with a sane section and key and a value without line
//   breaks, the value reads back trimmed and unquoted, and other keys read as
//   before;
// - writing the same value twice gives the text of writing it once;
// - the text as a file's bytes comes back from them byte for byte (UTF-16 or
//   not), and a write to a UTF-16 file's text reads back from its bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/ini_text.h"

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    a = Trim(a);
    b = Trim(b);
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A section that a header "[section]" names exactly.
bool SaneSection(std::string_view section)
{
    return !HasLineBreak(section) && section.find(']') == std::string_view::npos;
}

// A key that "key=value" names exactly: no "=", and not read as a comment or header.
bool SaneKey(std::string_view key)
{
    std::string_view trimmed = Trim(key);
    return !HasLineBreak(key) && key.find('=') == std::string_view::npos &&
           (trimmed.empty() || (trimmed.front() != ';' && trimmed.front() != '['));
}

std::string Expected(std::string_view value)
{
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

// Well-formed UTF-8, without the three-byte forms of surrogates (which a
// UTF-16 file's lone surrogates decode to).
bool IsUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80                ? 1
                              : c >= 0xC2 && c < 0xE0 ? 2
                              : c >= 0xE0 && c < 0xF0 ? 3
                              : c >= 0xF0 && c < 0xF5 ? 4
                                                      : 0;
        if (n == 0 || i + n > text.size())
            return false;
        unsigned value = c & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            value = value << 6 | (d & 0x3F);
        }
        if ((n == 3 && (value < 0x800 || (value >= 0xD800 && value < 0xE000))) ||
            (n == 4 && (value < 0x10000 || value > 0x10FFFF)))
            return false;
        i += n;
    }
    return true;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(32);
    const std::string key = input.ConsumeRandomLengthString(32);
    const std::string value = input.ConsumeRandomLengthString(300);
    const std::string otherSection = input.ConsumeRandomLengthString(32);
    const std::string otherKey = input.ConsumeRandomLengthString(32);
    const std::string content = input.ConsumeRemainingBytesAsString();

    const vel::ini::FileContent file = vel::ini::DecodeFile(content);
    Check(vel::ini::EncodeFile(file) == content);
    const std::string utf16 = "\xFF\xFE" + content;
    const vel::ini::FileContent wide = vel::ini::DecodeFile(utf16);
    Check(wide.encoding == vel::ini::Encoding::Utf16LE && vel::ini::EncodeFile(wide) == utf16);
    vel::ini::FileContent written = wide;
    written.text = vel::ini::WriteValue(wide.text, section, key, value);
    const vel::ini::FileContent again = vel::ini::DecodeFile(vel::ini::EncodeFile(written));
    if (IsUtf8(section) && IsUtf8(key) && IsUtf8(value))
        Check(again.text == written.text);

    const std::optional<std::string> before = vel::ini::ReadValue(content, section, key);
    if (before)
        Check(!HasLineBreak(*before));

    const std::string after = vel::ini::WriteValue(content, section, key, value);

    // Only one line changes: between the common start and the common end,
    // the old text holds no line break.
    std::size_t prefix = 0;
    while (prefix < content.size() && prefix < after.size() && content[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < content.size() - prefix && suffix < after.size() - prefix &&
           content[content.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    Check(!HasLineBreak(std::string_view(content).substr(prefix, content.size() - prefix - suffix)));

    if (!SaneSection(section) || !SaneKey(key) || HasLineBreak(value))
        return 0;

    const std::optional<std::string> readBack = vel::ini::ReadValue(after, section, key);
    Check(readBack.has_value() && *readBack == Expected(value));

    if (!(SameName(otherSection, section) && SameName(otherKey, key))) {
        Check(vel::ini::ReadValue(after, otherSection, otherKey) ==
              vel::ini::ReadValue(content, otherSection, otherKey));
    }

    Check(vel::ini::WriteValue(after, section, key, value) == after);
    return 0;
}
