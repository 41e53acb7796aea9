// Other programs: found by name on a search path and started from an argument
// vector (never through a shell), without waiting for them. The About box's
// programs and the dial-up tools (pon, poff) both start here.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vel::platform {

// What a started program shares with this process.
enum class StartAs {
    // A program the user works with: the user's language and this
    // process's standard input and output.
    UserProgram,
    // A system tool that works on its own: untranslated messages and UTF-8
    // names (LC_ALL=C.UTF-8, no LANGUAGE), input and output on /dev/null.
    SystemTool,
};

class ProgramRunner {
public:
    // searchPath: the folders programs are looked for in, separated by ':' as
    // in PATH; empty: the process's PATH.
    explicit ProgramRunner(std::string searchPath = {});

    // The program's full path, nullopt when there is none. A name with a '/'
    // is taken as it is (it must be an executable file); any other is looked
    // for on the search path.
    std::optional<std::string> Find(const std::string& program) const;

    // Starts argv[0], found as Find finds it, with the rest as its arguments,
    // and leaves it running on its own (no zombie behind). False when there
    // is no such program or it could not be started.
    bool StartDetached(const std::vector<std::string>& argv, StartAs how) const;

private:
    std::string searchPath_;
};

}  // namespace vel::platform
