// Opening a document or address with the desktop's handler.
#pragma once

#include <string>

namespace vel::platform {

class Shell {
public:
    virtual ~Shell() = default;

    // ShellExecuteA with the default verb and SW_SHOWNORMAL: a result greater
    // than 32 means success, 32 or less failure.
    virtual int Execute(const std::string& target) = 0;
};

}  // namespace vel::platform
