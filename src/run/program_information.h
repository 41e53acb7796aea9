// What the program prints instead of starting: the usage or the version when
// the arguments ask for them, or the refusal of an option it does not know.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/command_line.h"

namespace vel {

// The answer of a start that ends before anything is read or written.
struct AnswerWithoutRun {
    std::string text;
    bool toStandardError = false;  // a refusal; else standard output
    int status = 0;                // the process's exit status
};

// Decided from the arguments alone (without the program's name): "--help" or
// "-h" anywhere gives the usage, else "--version" anywhere the version, both
// with status 0; else an argument that looks like an option but is none
// `system` knows (common/command_line.h) is refused with ExitStatus::Usage.
// Nothing otherwise: a start as ever. `logFile`: this user's log, which the
// usage names.
std::optional<AnswerWithoutRun> AnswerBeforeRun(const std::vector<std::string>& arguments, OptionSystem system,
                                                const std::string& logFile);

// "Veltrane 1.55"
std::string VersionLine();

// The command line, the options and words, the files (with `logFile`, where
// this user's log lies) and the exit statuses.
std::string UsageText(const std::string& logFile);

}  // namespace vel
