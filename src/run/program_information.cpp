#include "run/program_information.h"

#include "about/about_dialog.h"
#include "about/version_info.h"

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

std::string VersionLine()
{
    // "Version 1.55" as the About box shows it, after the program's name.
    std::string number = VersionText(kVersionInfo.Major, kVersionInfo.Minor, kVersionInfo.Revision);
    number.erase(0, number.find(' ') + 1);
    return std::string(kVersionInfo.ProductName) + " " + number;
}

std::string UsageText()
{
    return "Usage: veltrane [config] [noupdate] [debug]\n"
           "       veltrane --help | -h | --version\n"
           "\n"
           "Sets the PC clock once from the Daytime server (TCP port 13) that the\n"
           "settings name, then ends. Without a word it runs with its status window,\n"
           "or without any window when the settings hold QuietMode=Y. The first start\n"
           "opens the configuration dialog.\n"
           "\n"
           "Words (anywhere on the command line, in any case, even inside a longer word):\n"
           "  config     open the configuration dialog instead of a run\n"
           "  noupdate   measure and log the difference, but do not set the clock\n"
           "  debug      when no time was obtained, also show the error in a message box\n"
           "\n"
           "Files, in the program folder:\n"
           "  Veltrane.INI   the settings (section [Main])\n"
           "  Veltrane.log   one time-stamped line per step of each run\n"
           "  OldLog.log     the previous log\n"
           "The program folder is $VELTRANE_HOME when that is set, else the folder of\n"
           "the executable; where that folder holds no settings file and cannot be\n"
           "written (an installed copy), $XDG_CONFIG_HOME/veltrane (~/.config/veltrane).\n"
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
           "\n"
           "See veltrane(1).\n";
}

}  // namespace vel
