#include "run/program_information.h"

#include <algorithm>
#include <cstdio>

#include "about/about_dialog.h"
#include "about/version_info.h"
#include "app/app.h"

namespace vel {

namespace {

bool Holds(const std::vector<std::string>& arguments, std::initializer_list<const char*> spellings)
{
    return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
        return std::find(spellings.begin(), spellings.end(), argument) != spellings.end();
    });
}

// "  <status right-aligned>  <text>", the text's later lines under its first.
std::string StatusLines(const char* status, const std::string& text)
{
    char number[16];
    std::snprintf(number, sizeof number, "%7s  ", status);
    std::string lines = number;
    for (const char c : text)
        lines += c == '\n' ? std::string("\n") + std::string(9, ' ') : std::string(1, c);
    return lines + "\n";
}

std::string StatusLine(ExitStatus status, const std::string& text)
{
    return StatusLines(std::to_string(static_cast<int>(status)).c_str(), text);
}

}  // namespace

std::optional<AnswerWithoutRun> AnswerBeforeRun(const std::vector<std::string>& arguments, OptionSystem system,
                                                const std::string& logFile)
{
    if (Holds(arguments, {"--help", "-h"}))
        return AnswerWithoutRun{UsageText(logFile), false, 0};
    if (Holds(arguments, {"--version"}))
        return AnswerWithoutRun{VersionLine() + "\n", false, 0};
    if (const std::optional<std::string> option = UnrecognizedOption(arguments, system))
        return AnswerWithoutRun{
            "veltrane: unrecognized option '" + *option + "'\nTry 'veltrane --help' for more information.\n", true,
            static_cast<int>(ExitStatus::Usage)};
    return std::nullopt;
}

std::string VersionLine()
{
    // "Version 1.55" as the About box shows it, after the program's name.
    std::string number = VersionText(kVersionInfo.Major, kVersionInfo.Minor, kVersionInfo.Revision);
    number.erase(0, number.find(' ') + 1);
    return std::string(kVersionInfo.ProductName) + " " + number;
}

std::string UsageText(const std::string& logFile)
{
    return "Usage: veltrane [OPTION]... [config] [noupdate] [debug] [quiet]\n"
           "       veltrane --machine [config]\n"
           "       veltrane [--machine] --open-log\n"
           "       veltrane [--machine] --history\n"
           "       veltrane --help | -h | --version\n"
           "\n"
           "Sets the PC clock once from the time server that the settings name, over\n"
           "Daytime (TCP port 13) or NTP (UDP port 123; \"ntp:HOST\" asks over NTP\n"
           "only; \"https:HOST\" takes a web server's Date over HTTPS), then ends.\n"
           "Without a word it runs with its status window, or without any window when\n"
           "the settings hold QuietMode=Y. The first start opens the configuration\n"
           "dialog.\n"
           "\n"
           "Options:\n"
           "  -q, --quiet     run without any window and without the start delay; the\n"
           "                  settings file is not changed for it\n"
           "  -n, --dry-run   measure and log the difference, but do not set the clock\n"
           "      --config    open the configuration dialog instead of a run\n"
           "      --debug     when no time was obtained, also show the error in a box\n"
           "      --machine   the machine's run, as the system starts it: quiet, with the\n"
           "                  machine's settings (only read) and log; with config, the\n"
           "                  dialog on those settings, for an administrator\n"
           "      --open-log  open the log with the desktop's program for it, and do\n"
           "                  nothing else\n"
           "      --history   print each run in the log (and OldLog.log) that compared\n"
           "                  the clock, and how fast the clock drifts; nothing else,\n"
           "                  nothing written\n"
           "      --rate-limited  with --machine, for a start by an event (a resume, a\n"
           "                  network connecting): end at once when the machine's last\n"
           "                  run obtained the time less than 10 minutes ago\n"
           "  -h, --help      print this and end, wherever it stands\n"
           "      --version   print the version and end, wherever it stands (--help\n"
           "                  wins)\n"
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
           "%ProgramData%\\Veltrane), their last run's record in /var/lib/veltrane\n"
           "(LastRun.ini), and write /var/lib/prometheus/node-exporter/veltrane.prom\n"
           "where that folder exists. A quiet run also writes each line of its log to\n"
           "standard error; a run that fails names its log there at its end.\n"
           "This start's log:\n"
           "  " +
           logFile +
           "\n"
           "\n"
           "Exit status:\n" +
           StatusLine(ExitStatus::Ok,
                      "the clock was correct, was set, or was measured (noupdate);\n"
                      "or the configuration dialog ended, or another run with the window\n"
                      "was in progress in the folder (its window came to the front)") +
           StatusLine(ExitStatus::NoTime, "no time was obtained from the server") +
           StatusLine(ExitStatus::ClockNotSet, "the clock was off and could not be set") +
           StatusLine(ExitStatus::Cancelled, "the user cancelled before the clock was checked or set") +
           StatusLine(ExitStatus::NotConnected, "OnlyIfConnected is on and there was no internet connection") +
           StatusLine(ExitStatus::Fatal, "the log could not be written, or the configuration dialog had no\ndisplay") +
           StatusLine(ExitStatus::KeptByTimeService, "another time service keeps the clock: compared, not set") +
           StatusLine(ExitStatus::NotAnswering,
                      "another run with the window is in progress in the folder but did\n"
                      "not answer (stopped?); nothing was done") +
           StatusLine(ExitStatus::NoLogOpened, "--open-log: there is no log yet, or nothing could open it") +
           StatusLine(ExitStatus::Unconfirmed,
                      "a step larger than StepLimit (an hour) that no second source\n"
                      "confirmed, or an answer the HTTPS Date of web servers showed false:\n"
                      "not set") +
           StatusLine(ExitStatus::Usage, "an option the program does not know; nothing was done") +
           StatusLine(ExitStatus::NotPermitted, "--machine config by anyone but root (Linux); nothing was done") +
           StatusLines("128+N", "stopped by signal N (129 SIGHUP, 130 SIGINT, 143 SIGTERM)") +
           "\n"
           "See veltrane(1).\n";
}

}  // namespace vel
