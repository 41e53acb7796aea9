#include "common/win32_machine.h"

#include <algorithm>

#include "common/command_line.h"
#include "common/machine_mode.h"
#include "common/text.h"

namespace vel::win32 {

namespace {

// The task's lines; CR LF is added to each.
constexpr const char* kTaskLines[] = {
    "<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
    "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">",
    "  <RegistrationInfo>",
    "    <Author>Veltrane</Author>",
    ("    <Description>Sets the PC clock from the time server in the machine's Veltrane settings "
     "(%ProgramData%\\Veltrane\\Veltrane.INI). Its log is beside them.</Description>"),
    "  </RegistrationInfo>",
    "  <Triggers>",
    "    <BootTrigger>",
    "      <Enabled>true</Enabled>",
    "      <Delay>PT1M</Delay>",
    "    </BootTrigger>",
    // No user named: any user's log-on.
    "    <LogonTrigger>",
    "      <Enabled>true</Enabled>",
    "      <Delay>PT1M</Delay>",
    "    </LogonTrigger>",
    // Machines that start or tick together ask a public server minutes apart.
    "    <CalendarTrigger>",
    "      <Enabled>true</Enabled>",
    "      <StartBoundary>2020-01-01T12:00:00</StartBoundary>",
    "      <RandomDelay>PT10M</RandomDelay>",
    "      <ScheduleByDay>",
    "        <DaysInterval>1</DaysInterval>",
    "      </ScheduleByDay>",
    "    </CalendarTrigger>",
    // A resume from sleep or hibernation (the power troubleshooter's event 1
    // in the System log) and a network connecting (the network profile's
    // event 10000). Every start of the task is rate-limited by the program:
    // within ten minutes of the last time obtained it ends at once.
    "    <EventTrigger>",
    "      <Enabled>true</Enabled>",
    ("      <Subscription>&lt;QueryList&gt;&lt;Query Id=\"0\" Path=\"System\"&gt;&lt;Select Path=\"System\"&gt;"
     "*[System[Provider[@Name='Microsoft-Windows-Power-Troubleshooter'] and EventID=1]]"
     "&lt;/Select&gt;&lt;/Query&gt;&lt;/QueryList&gt;</Subscription>"),
    "      <Delay>PT1M</Delay>",
    "    </EventTrigger>",
    "    <EventTrigger>",
    "      <Enabled>true</Enabled>",
    ("      <Subscription>&lt;QueryList&gt;&lt;Query Id=\"0\" Path=\"Microsoft-Windows-NetworkProfile/Operational\"&gt;"
     "&lt;Select Path=\"Microsoft-Windows-NetworkProfile/Operational\"&gt;*[System[EventID=10000]]"
     "&lt;/Select&gt;&lt;/Query&gt;&lt;/QueryList&gt;</Subscription>"),
    "      <Delay>PT30S</Delay>",
    "    </EventTrigger>",
    "  </Triggers>",
    // The service account follows from the SID: the schema's LogonType has
    // no value for it, and Windows refuses a task that names one.
    "  <Principals>",
    "    <Principal id=\"LocalService\">",
    "      <UserId>S-1-5-19</UserId>",
    "      <RunLevel>LeastPrivilege</RunLevel>",
    "    </Principal>",
    "  </Principals>",
    "  <Settings>",
    "    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
    "    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
    "    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
    "    <StartWhenAvailable>true</StartWhenAvailable>",
    "    <RunOnlyIfNetworkAvailable>true</RunOnlyIfNetworkAvailable>",
    // A run takes two minutes at most; one that hangs is stopped.
    "    <ExecutionTimeLimit>PT10M</ExecutionTimeLimit>",
    "  </Settings>",
    "  <Actions Context=\"LocalService\">",
    "    <Exec>",
    "      <Command>@PROGRAM@</Command>",
    "      <Arguments>@ARGUMENTS@</Arguments>",
    "    </Exec>",
    "  </Actions>",
    "</Task>",
};

constexpr const char* kMachineSettingsLines[] = {
    "; The settings of Veltrane's runs for the whole machine: the task",
    "; \"Veltrane\\Set the clock\" (Task Scheduler) starts them at start-up, at each",
    "; log-on and daily; they read this file and never write it. Change it with",
    "; the Start menu's \"Veltrane settings for all users\" (as an administrator) or",
    "; a text editor; a line that begins with \";\" is a comment.",
    "[Main]",
    "; The time server: a host name, then a blank and what it is. Without this",
    "; key the built-in default server is asked.",
    ";NTPServer=time-a-g.nist.gov (NIST, Gaithersburg, MD)",
    "; LAN: the network the machine already has. The task does not dial.",
    "ConnectionType=LAN",
    "; Seconds of difference left alone (default 30).",
    ";Tolerance=30",
    "; Seconds the clock is to run ahead of the server's time (default 0).",
    ";PCOffset=0",
};

bool IsWholeNumber(const std::string& text)
{
    const std::size_t digits = text.size() - (text.rfind('-', 0) == 0 ? 1 : 0);
    if (digits == 0 || digits > 9)
        return false;
    for (std::size_t i = text.size() - digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

bool HasControlCharacter(const std::string& text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

// One "Key=Value"; false with the reason in `error`.
bool ParsePreset(const std::string& argument, std::vector<Preset>& presets, std::string& error)
{
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos) {
        error = "not a setting (KEY=VALUE): " + argument;
        return false;
    }
    const std::string key = ToLower(TrimBlanks(std::string_view(argument).substr(0, equals)));
    const std::string value(TrimBlanks(std::string_view(argument).substr(equals + 1)));
    const char* name = key == "ntpserver"   ? "NTPServer"
                       : key == "delay"     ? "Delay"
                       : key == "tolerance" ? "Tolerance"
                                            : nullptr;
    if (name == nullptr) {
        error = "unknown setting (NTPServer, Delay or Tolerance): " + argument;
        return false;
    }
    if (HasControlCharacter(value)) {
        error = std::string(name) + " holds a control character";
        return false;
    }
    if (value.empty())
        return true;  // not given
    if (key != "ntpserver" && !IsWholeNumber(value)) {
        error = std::string(name) + " is not a whole number of seconds: " + value;
        return false;
    }
    presets.push_back({name, value});
    return true;
}

}  // namespace

std::string MachineSettingsAsInstalled()
{
    std::string text;
    for (const char* line : kMachineSettingsLines)
        text += std::string(line) + "\r\n";
    return text;
}

std::string XmlEscape(const std::string& text)
{
    std::string escaped;
    for (const char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else
            escaped += c;
    }
    return escaped;
}

std::string TaskXml(const std::string& programPath)
{
    std::string xml;
    for (const char* line : kTaskLines) {
        std::string text = line;
        if (const std::size_t at = text.find("@PROGRAM@"); at != std::string::npos)
            text.replace(at, 9, XmlEscape(programPath));
        if (const std::size_t at = text.find("@ARGUMENTS@"); at != std::string::npos)
            text.replace(at, 11, std::string(kMachineOption) + " " + kRateLimitedOption);
        xml += text + "\r\n";
    }
    return xml;
}

InstallerCommand ParseInstallerCommand(const std::vector<std::string>& args)
{
    InstallerCommand command;
    if (args.empty())
        return command;
    const std::string& first = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (first == kInstallMachineOption || first == kPresetSettingsOption) {
        command.kind =
            first == kInstallMachineOption ? InstallerCommand::Kind::Install : InstallerCommand::Kind::PresetSettings;
        for (const auto& argument : rest) {
            if (!ParsePreset(argument, command.presets, command.error))
                break;
        }
    } else if (first == kUninstallMachineOption) {
        command.kind = InstallerCommand::Kind::Uninstall;
        for (const auto& argument : rest) {
            if (argument != kPurgeOption) {
                command.error = "unknown argument: " + argument;
                break;
            }
            command.purge = true;
        }
    } else if (first == kWriteTaskXmlOption) {
        command.kind = InstallerCommand::Kind::WriteTaskXml;
        if (rest.size() != 1 || rest.front().empty())
            command.error = std::string(kWriteTaskXmlOption) + " takes one file name";
        else
            command.file = rest.front();
    }
    if (!command.error.empty())
        command.presets.clear();
    return command;
}

std::vector<Preset> PresetsToWrite(const std::vector<Preset>& presets, bool fileExists)
{
    std::vector<Preset> writes = presets;
    if (!writes.empty() && !fileExists)
        writes.push_back({"ConnectionType", "LAN"});
    return writes;
}

bool StartsAgainAsAdministrator(const std::vector<std::string>& args, bool elevated)
{
    if (elevated || !IsMachineMode(args) || std::find(args.begin(), args.end(), kElevatedOption) != args.end())
        return false;
    for (const auto& arg : args) {
        if (ToLower(arg).find("config") != std::string::npos)
            return true;
    }
    return false;
}

std::string ChooseProgramFolder(RunKind kind, const Folders& folders)
{
    if (kind == RunKind::Machine && !folders.programData.empty())
        return folders.programData + "\\" + kMachineFolderName;
    if (kind == RunKind::SharedCopy && !folders.localAppData.empty())
        return folders.localAppData + "\\" + kMachineFolderName;
    return folders.executable;
}

std::string ClockRightFix(RunKind kind)
{
    switch (kind) {
        case RunKind::Machine:
            return "the task's account, LOCAL SERVICE, needs back the right \"Change the system time\" (Local "
                   "Security Policy, User Rights Assignment)";
        case RunKind::SharedCopy:
            return "only an administrator may set it: the task \"" + std::string(kTaskName) +
                   "\" sets it for every user at start-up, at each log-on and daily; to have it set now, log off "
                   "and on again, or run Veltrane as administrator";
        case RunKind::OwnCopy:
            break;
    }
    return "only an administrator may set it: install Veltrane for all users, so that its task sets the clock at "
           "start-up, at each log-on and daily, or run Veltrane as administrator";
}

}  // namespace vel::win32
