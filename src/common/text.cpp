#include "common/text.h"

namespace vel {

bool IsBlank(std::string_view text)
{
    return text.find_first_not_of(' ') == std::string_view::npos;
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

std::string TrimBlanks(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace vel
