#include "common/machine_mode.h"

#include <algorithm>

namespace vel {

bool IsMachineMode(const std::vector<std::string>& commandLineArgs)
{
    return std::find(commandLineArgs.begin(), commandLineArgs.end(), kMachineOption) != commandLineArgs.end();
}

}  // namespace vel
