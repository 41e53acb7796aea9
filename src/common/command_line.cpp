#include "common/command_line.h"

#include <algorithm>
#include <initializer_list>

#include "common/machine_mode.h"
#include "common/text.h"
#include "common/win32_machine.h"

namespace vel {

namespace {

constexpr const char* kWords[] = {"quiet", "config", "noupdate", "debug"};

bool Has(const std::vector<std::string>& arguments, std::initializer_list<const char*> spellings)
{
    return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
        return std::find(spellings.begin(), spellings.end(), argument) != spellings.end();
    });
}

bool HoldsAWord(const std::string& argument)
{
    const std::string lower = ToLower(argument);
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* word) { return lower.find(word) != std::string::npos; });
}

bool IsKnownOption(const std::string& argument, OptionSystem system)
{
    static const char* const kOptions[] = {"--quiet",      "-q",           "--config",        "--dry-run", "-n",
                                           "--debug",      kMachineOption, "--help",          "-h",        "--version",
                                           kOpenLogOption, kHistoryOption, kRateLimitedOption};
    // The Windows installers', and the program's own start again as administrator.
    static const char* const kWindowsOptions[] = {win32::kInstallMachineOption, win32::kUninstallMachineOption,
                                                  win32::kPurgeOption,          win32::kWriteTaskXmlOption,
                                                  win32::kPresetSettingsOption, kElevatedOption};
    const auto in = [&argument](const auto& list) {
        return std::find(std::begin(list), std::end(list), argument) != std::end(list);
    };
    return in(kOptions) || (system == OptionSystem::Windows && in(kWindowsOptions));
}

}  // namespace

StartOptions ReadStartOptions(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& argument : arguments)
        line += (line.empty() ? "" : " ") + argument;
    line = ToLower(line);
    const auto word = [&line](const char* text) { return line.find(text) != std::string::npos; };

    StartOptions options;
    options.configuration = word("config");  // --config holds it
    options.noUpdate = word("noupdate") || Has(arguments, {"--dry-run", "-n"});
    options.debug = word("debug");  // --debug holds it
    options.quiet = word("quiet") || Has(arguments, {"-q"});
    options.machine = IsMachineMode(arguments);
    options.openLog = Has(arguments, {kOpenLogOption});
    options.history = Has(arguments, {kHistoryOption});
    options.rateLimited = Has(arguments, {kRateLimitedOption});
    return options;
}

std::optional<std::string> UnrecognizedOption(const std::vector<std::string>& arguments, OptionSystem system)
{
    for (const std::string& argument : arguments)
        if (!argument.empty() && argument[0] == '-' && !IsKnownOption(argument, system) && !HoldsAWord(argument))
            return argument;
    return std::nullopt;
}

}  // namespace vel
