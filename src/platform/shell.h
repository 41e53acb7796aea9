// Opening a document or address with the desktop's handler.
#pragma once

#include <string>

namespace vel::platform {

class Shell {
public:
    virtual ~Shell() = default;

    // Opens a document or address (a web address, "mailto:...") with its
    // handler, shown normally; true when the system took it.
    virtual bool Open(const std::string& target) = 0;
};

}  // namespace vel::platform
