// What the program prints instead of starting when its whole command line is
// exactly "--help", "-h" or "--version", or holds an option it does not know.
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

// The text for standard error when an argument looks like an option but is
// none the program knows (common/command_line.h): the start then ends at once
// with ExitStatus::Usage, touching nothing. Nothing when all is understood.
std::optional<std::string> ArgumentsRefused(const std::vector<std::string>& arguments);

// "Veltrane 1.55"
std::string VersionLine();

// The command line, the options and words, the files and the exit statuses.
std::string UsageText();

}  // namespace vel
