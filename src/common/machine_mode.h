// The machine's runs: started by the system (a Task Scheduler task, a system
// service) with the machine's settings and log instead of a user's.
#pragma once

#include <string>
#include <vector>

namespace vel {

// The option that asks for them; a whole argument, spelt exactly so.
inline constexpr const char* kMachineOption = "--machine";

// Whether the arguments (without the program's name) hold the option.
bool IsMachineMode(const std::vector<std::string>& commandLineArgs);

// Added by the program itself when it starts itself again as administrator
// (Windows: the configuration of the machine's settings), so that the second
// start never asks again, whatever the system gave it.
inline constexpr const char* kElevatedOption = "--elevated";

}  // namespace vel
