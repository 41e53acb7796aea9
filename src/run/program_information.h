// What the program prints instead of starting when its whole command line is
// exactly "--help", "-h" or "--version".
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vel {

// The text for standard output when the arguments (without the program's
// name) are exactly one of the three requests; nothing otherwise, and the
// command line then goes by the usual substring rule ("--helpconfig" opens
// the configuration dialog).
std::optional<std::string> InformationRequested(const std::vector<std::string>& arguments);

// "Veltrane 1.55"
std::string VersionLine();

// The command line, the words, the files and the exit statuses.
std::string UsageText();

}  // namespace vel
