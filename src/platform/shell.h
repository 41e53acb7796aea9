// Opening a document or address with the desktop's handler.
#pragma once

#include <optional>
#include <string>

namespace vel::platform {

// A web address written without its scheme, a host name and a path
// ("github.com/veltrane/veltrane") or a name beginning "www.", as the https
// address; nullopt for anything else (an address with its scheme,
// "mailto:...", a file's path or name).
std::optional<std::string> WebAddressOf(const std::string& target);

class Shell {
public:
    virtual ~Shell() = default;

    // Opens a document or address (a web address, with its scheme or as
    // WebAddressOf takes it; "mailto:...") with its handler, shown normally;
    // true when the system took it.
    virtual bool Open(const std::string& target) = 0;
};

}  // namespace vel::platform
