// libFuzzer target for the INI text reader and writer.
//
// The input is split into a section, a key, a value, a second section and
// key to look at, and the file's text. Checked on every input:
// - a write changes at most one line: the bytes it removes hold no line break;
// - after a write with a sane section and key and a value without line
//   breaks, the value reads back trimmed and unquoted, and other keys read as
//   before;
// - writing the same value twice gives the text of writing it once.
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
