#include "common/text.h"

namespace vel {

namespace {

std::string_view Trim(std::string_view text, std::string_view whiteSpace)
{
    const auto first = text.find_first_not_of(whiteSpace);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(whiteSpace);
    return text.substr(first, last - first + 1);
}

}  // namespace

bool IsBlank(std::string_view text)
{
    return text.find_first_not_of(' ') == std::string_view::npos;
}

bool IsBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

std::int16_t NumericKeyFilter(std::int16_t keyAscii)
{
    const bool accepted = (keyAscii >= '0' && keyAscii <= '9') || keyAscii == '.' || keyAscii == '-' || keyAscii == 8;
    return accepted ? keyAscii : std::int16_t{0};
}

std::string ToLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string ToUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string_view TrimBlanks(std::string_view text)
{
    return Trim(text, " ");
}

std::string_view TrimBlanksAndTabs(std::string_view text)
{
    return Trim(text, " \t");
}

std::string_view TrimBlanksTabsAndLineEnds(std::string_view text)
{
    return Trim(text, " \t\r\n");
}

std::vector<std::string_view> SplitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos)
            end = text.size();
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string_view> SplitLines(std::string_view text)
{
    std::vector<std::string_view> lines = SplitAt(text, '\n');
    for (std::string_view& line : lines)
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
    return lines;
}

std::vector<std::string_view> SplitAtBlanksAndTabs(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlankOrTab(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsBlankOrTab(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

}  // namespace vel
