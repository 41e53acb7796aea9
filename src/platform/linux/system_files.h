// The system's small text files (the kernel's tables under /proc and /sys,
// pppd's peers), read whole.
#pragma once

#include <optional>
#include <string>

namespace vel::platform {

// The file's bytes; nullopt when it cannot be opened or is not there.
std::optional<std::string> ReadWholeFile(const std::string& path);

// True only for an ordinary file (a folder of that name does not count).
bool IsOrdinaryFileAt(const std::string& path);

}  // namespace vel::platform
