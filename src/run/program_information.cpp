#include "run/program_information.h"

#include "about/about_dialog.h"
#include "about/version_info.h"
#include "common/command_line.h"

namespace vel {

std::optional<std::string> InformationRequested(const std::vector<std::string>& arguments)
{
    if (arguments.size() != 1)
        return std::nullopt;
    if (arguments[0] == "--help" || arguments[0] == "-h")
        return UsageText();
    if (arguments[0] == "--version")
        return VersionLine() + "\n";
    return std::nullopt;
}

std::optional<std::string> ArgumentsRefused(const std::vector<std::string>& arguments)
{
    const std::optional<std::string> option = UnrecognizedOption(arguments);
    if (!option)
        return std::nullopt;
    return "veltrane: unrecognized option '" + *option + "'\nTry 'veltrane --help' for more information.\n";
}

std::string VersionLine()
{
    // "Version 1.55" as the About box shows it, after the program's name.
    std::string number = VersionText(kVersionInfo.Major, kVersionInfo.Minor, kVersionInfo.Revision);
    number.erase(0, number.find(' ') + 1);
    return std::string(kVersionInfo.ProductName) + " " + number;
}

std::string UsageText()
{
    return "Usage: veltrane [OPTION]... [config] [noupdate] [debug] [quiet]\n"
           "       veltrane --machine [config]\n"
           "       veltrane --help | -h | --version\n"
           "\n"
           "Sets the PC clock once from the Daytime server (TCP port 13) that the\n"
           "settings name, then ends. Without a word it runs with its status window,\n"
           "or without any window when the settings hold QuietMode=Y. The first start\n"
           "opens the configuration dialog.\n"
           "\n"
           "Options:\n"
           "  -q, --quiet    run without any window and without the start delay; the\n"
           "                 settings file is not changed for it\n"
           "  -n, --dry-run  measure and log the difference, but do not set the clock\n"
           "      --config   open the configuration dialog instead of a run\n"
           "      --debug    when no time was obtained, also show the error in a box\n"
           "      --machine  the machine's run, as the system starts it: quiet, with the\n"
           "                 machine's settings (only read) and log; with config, the\n"
           "                 dialog on those settings, for an administrator\n"
           "  -h, --help     print this and end (the whole command line only)\n"
           "      --version  print the version and end (the whole command line only)\n"
           "\n"
           "Words (anywhere on the command line, in any case, even inside a longer word):\n"
           "  config     as --config\n"
           "  noupdate   as --dry-run\n"
           "  debug      as --debug\n"
           "  quiet      as --quiet\n"
           "Any other argument that begins with \"-\" is refused.\n"
           "\n"
           "Files, in the program folder:\n"
           "  Veltrane.INI   the settings (section [Main])\n"
           "  Veltrane.log   one time-stamped line per step of each run\n"
           "  OldLog.log     the previous log\n"
           "The program folder is $VELTRANE_HOME when that is set; else, for a copy\n"
           "installed by its package, $XDG_CONFIG_HOME/veltrane (~/.config/veltrane);\n"
           "else the folder of the executable. The machine's runs keep the settings\n"
           "in /etc/veltrane and the log in /var/log/veltrane (on Windows both in\n"
           "%ProgramData%\\Veltrane). A quiet run also writes each line of its log to\n"
           "standard error, unless that is a terminal.\n"
           "\n"
           "Exit status:\n"
           "  0  the clock was correct, was set, or was measured (noupdate);\n"
           "     or the configuration dialog ended, or another run with the window\n"
           "     was in progress in the folder (its window came to the front)\n"
           "  1  no time was obtained from the server\n"
           "  2  the clock was off and could not be set\n"
           "  3  the user cancelled before the clock was checked or set\n"
           "  4  OnlyIfConnected is on and there was no internet connection\n"
           "  5  the log could not be written, or the configuration dialog had no display\n"
           "  6  another time service keeps the clock: compared, not set\n"
           "  8  a step larger than StepLimit (an hour) that no second source confirmed,\n"
           "     or an answer the HTTPS Date of web servers showed false: not set\n"
           "  64  an option the program does not know; nothing was done\n"
           "  77  --machine config by anyone but root (Linux); nothing was done\n"
           "\n"
           "See veltrane(1).\n";
}

}  // namespace vel
