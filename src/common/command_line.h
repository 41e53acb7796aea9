// The command line: the words read anywhere in it, in any case and even
// inside a longer word ("Reconfigure" holds "config"), and the options of
// the usual spelling that say the same.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vel {

// What the arguments ask of this start.
struct StartOptions {
    bool configuration = false;  // "config", --config: the configuration dialog instead of a run
    bool noUpdate = false;       // "noupdate", --dry-run, -n: measure, never set the clock
    bool debug = false;          // "debug", --debug: the time query's error in a box as well
    bool quiet = false;          // "quiet", --quiet, -q: this start runs quiet; the settings file unchanged
    bool machine = false;        // --machine: the machine's settings and log (common/machine_mode.h)
    bool openLog = false;        // --open-log: the log opened with the desktop's handler, nothing else
    bool history = false;        // --history: the clock's comparisons in the log and its drift, nothing else
    // --rate-limited: a machine's run started by an event (a resume, a
    // network connecting) ends at once when the previous one obtained the
    // time a short while ago (run/machine_record.h).
    bool rateLimited = false;
};

// The build whose options are read: each takes its own and refuses the other's.
enum class OptionSystem { Linux, Windows };

// Reads the words from the arguments joined by blanks and lower-cased (as
// the program always has), and the options as whole arguments.
StartOptions ReadStartOptions(const std::vector<std::string>& arguments);

// The option that opens the log with the desktop's handler.
inline constexpr const char* kOpenLogOption = "--open-log";
inline constexpr const char* kHistoryOption = "--history";
inline constexpr const char* kRateLimitedOption = "--rate-limited";

// The first argument that looks like an option (it begins with "-") but is
// none the program knows on `system`, and holds none of the words either:
// "-quiet" and "--noupdate-please" are words, "-x" and "--verbose" are not.
// nullopt when every argument is understood. The installers' options and
// --elevated are the Windows program's alone.
std::optional<std::string> UnrecognizedOption(const std::vector<std::string>& arguments, OptionSystem system);

}  // namespace vel
