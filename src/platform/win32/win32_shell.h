// Opening a document or address with the system's handler.
#pragma once

#include "platform/shell.h"

namespace vel::platform {

class Win32Shell : public Shell {
public:
    // ShellExecuteW with no owner, the default verb, no parameters and
    // SW_SHOWNORMAL; its result as a number (greater than 32: opened).
    int Execute(const std::string& target) override;
};

}  // namespace vel::platform
