#include "platform/shell.h"

namespace vel::platform {

namespace {

bool IsHostCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Labels of letters, digits and hyphens, two or more, parted by single dots.
bool IsHostName(const std::string& text)
{
    std::size_t labels = 0;
    std::size_t length = 0;
    for (const char c : text) {
        if (c == '.') {
            if (length == 0)
                return false;
            ++labels;
            length = 0;
        } else if (IsHostCharacter(c)) {
            ++length;
        } else {
            return false;
        }
    }
    return length > 0 && labels >= 1;
}

}  // namespace

std::optional<std::string> WebAddressOf(const std::string& target)
{
    const std::size_t slash = target.find('/');
    const std::string host = target.substr(0, slash);
    // A file's name ("Veltrane.log") looks like a host: only a path after the
    // host, or the web's own prefix, makes it an address.
    const bool web = slash != std::string::npos || host.rfind("www.", 0) == 0;
    if (!web || !IsHostName(host) || target.find_first_of(" \t\r\n\\") != std::string::npos)
        return std::nullopt;
    return "https://" + target;
}

}  // namespace vel::platform
