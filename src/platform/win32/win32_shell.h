// Opening a document or address with the system's handler.
#pragma once

#include "platform/shell.h"

namespace vel::platform {

class Win32Shell : public Shell {
public:
    // ShellExecuteW with no owner, the default verb, no parameters and
    // SW_SHOWNORMAL; a result greater than 32 means it opened.
    bool Open(const std::string& target) override;
};

}  // namespace vel::platform
