// The install for all users on Windows: the task's XML against what Task
// Scheduler's schema (1.2) requires, the settings as installed, the
// installers' commands, each kind of run's folder, the machine's option.
#include "common/win32_machine.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/ini_text.h"
#include "common/machine_mode.h"

namespace vel::win32 {
namespace {

using Strings = std::vector<std::string>;

// The elements of the task's XML in document order, each as its path
// ("Task/Principals/Principal/UserId") with its text (the entities of & < >
// read back); attributes as "path@name". An end tag that does not close the
// open element fails the test.
std::vector<std::pair<std::string, std::string>> Elements(const std::string& xml)
{
    const std::map<std::string, std::string> entities{{"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}};
    std::vector<std::pair<std::string, std::string>> elements;
    Strings open;
    for (std::size_t at = xml.find("?>"); (at = xml.find('<', at)) != std::string::npos;) {
        const std::size_t end = xml.find('>', at);
        const std::string tag = xml.substr(at + 1, end - at - 1);
        if (tag[0] == '/') {
            EXPECT_EQ(tag.substr(1), open.empty() ? "" : open.back());
            open.pop_back();
        } else {
            open.push_back(tag.substr(0, tag.find(' ')));
            std::string path;
            for (const auto& name : open)
                path += (path.empty() ? "" : "/") + name;
            std::string text = xml.substr(end + 1, xml.find('<', end) - end - 1);
            for (const auto& [entity, character] : entities) {
                for (std::size_t e; (e = text.find(entity)) != std::string::npos;)
                    text.replace(e, entity.size(), character);
            }
            elements.emplace_back(path, text);
            for (std::size_t eq = tag.find("=\""); eq != std::string::npos; eq = tag.find("=\"", eq + 2)) {
                const std::size_t name = tag.rfind(' ', eq) + 1;
                elements.emplace_back(path + "@" + tag.substr(name, eq - name),
                                      tag.substr(eq + 2, tag.find('"', eq + 2) - eq - 2));
            }
        }
        at = end;
    }
    EXPECT_TRUE(open.empty());
    return elements;
}

std::string Text(const std::string& xml, const std::string& path)
{
    for (const auto& [at, text] : Elements(xml)) {
        if (at == path)
            return text;
    }
    return "(none)";
}

// The names of the element's children, in order.
Strings Children(const std::string& xml, const std::string& path)
{
    Strings names;
    for (const auto& [at, text] : Elements(xml)) {
        if (at.rfind(path + "/", 0) == 0 && at.find_first_of("/@", path.size() + 1) == std::string::npos)
            names.push_back(at.substr(path.size() + 1));
    }
    return names;
}

const std::string kProgram = "C:\\Program Files\\Veltrane\\veltrane.exe";

TEST(TaskXml, Utf16DeclaredAndCrLfLineEnds)
{
    const std::string xml = TaskXml(kProgram);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n", 0), 0u);
    for (std::size_t i = xml.find('\n'); i != std::string::npos; i = xml.find('\n', i + 1))
        EXPECT_EQ(xml[i - 1], '\r') << i;
    EXPECT_EQ(Text(xml, "Task@version"), "1.2");
}

TEST(TaskXml, LocalServiceWithoutElevationRunsTheProgramForTheMachine)
{
    const std::string xml = TaskXml(kProgram);
    // The schema's LogonType has no service account: the SID says it.
    EXPECT_EQ(Children(xml, "Task/Principals/Principal"), (Strings{"UserId", "RunLevel"}));
    EXPECT_EQ(Text(xml, "Task/Principals/Principal/UserId"), "S-1-5-19");
    EXPECT_EQ(Text(xml, "Task/Principals/Principal/RunLevel"), "LeastPrivilege");
    EXPECT_EQ(Text(xml, "Task/Actions@Context"), Text(xml, "Task/Principals/Principal@id"));
    EXPECT_EQ(Children(xml, "Task/Actions"), Strings{"Exec"});
    EXPECT_EQ(Text(xml, "Task/Actions/Exec/Command"), kProgram);
    EXPECT_EQ(Text(xml, "Task/Actions/Exec/Arguments"), "--machine --rate-limited");
}

TEST(TaskXml, StartUpAnyLogOnAndDailyInTheSchemasOrderWithItsLimits)
{
    const std::string xml = TaskXml(kProgram);
    EXPECT_EQ(Children(xml, "Task/Triggers"),
              (Strings{"BootTrigger", "LogonTrigger", "CalendarTrigger", "EventTrigger", "EventTrigger"}));
    // A resume (the System log's power event) and a network connecting.
    EXPECT_NE(
        xml.find("<EventTrigger>\r\n      <Enabled>true</Enabled>\r\n      <Subscription>&lt;QueryList&gt;&lt;Query "
                 "Id=\"0\" Path=\"System\"&gt;&lt;Select Path=\"System\"&gt;*[System[Provider[@Name='Microsoft-"
                 "Windows-Power-Troubleshooter'] and EventID=1]]&lt;/Select&gt;"),
        std::string::npos);
    EXPECT_NE(xml.find("Path=\"Microsoft-Windows-NetworkProfile/Operational\"&gt;*[System[EventID=10000]]"),
              std::string::npos);
    // The schema's sequences; no UserId: anyone's log-on.
    EXPECT_EQ(Children(xml, "Task/Triggers/BootTrigger"), (Strings{"Enabled", "Delay"}));
    EXPECT_EQ(Children(xml, "Task/Triggers/LogonTrigger"), (Strings{"Enabled", "Delay"}));
    EXPECT_EQ(Children(xml, "Task/Triggers/CalendarTrigger"),
              (Strings{"Enabled", "StartBoundary", "RandomDelay", "ScheduleByDay"}));
    EXPECT_EQ(Text(xml, "Task/Triggers/CalendarTrigger/ScheduleByDay/DaysInterval"), "1");
    EXPECT_EQ(Text(xml, "Task/Triggers/CalendarTrigger/RandomDelay"), "PT10M");
    const std::map<std::string, std::string> settings{
        {"MultipleInstancesPolicy", "IgnoreNew"}, {"ExecutionTimeLimit", "PT10M"},
        {"RunOnlyIfNetworkAvailable", "true"},    {"StartWhenAvailable", "true"},
        {"DisallowStartIfOnBatteries", "false"},  {"StopIfGoingOnBatteries", "false"}};
    EXPECT_EQ(Children(xml, "Task/Settings").size(), settings.size());
    for (const auto& [name, value] : settings)
        EXPECT_EQ(Text(xml, "Task/Settings/" + name), value) << name;
}

TEST(TaskXml, TheProgramsPathIsEscaped)
{
    for (const std::string path : {"C:\\Tools & More\\veltrane.exe", "D:\\<odd>\\v.exe", "C:\\Ärger\\\"x\".exe"}) {
        const std::string xml = TaskXml(path);
        EXPECT_EQ(Text(xml, "Task/Actions/Exec/Command"), path);
        EXPECT_EQ(xml.find("<odd>"), std::string::npos);
    }
}

TEST(MachineSettings, AsInstalledTheLanAndTheRestInComments)
{
    const std::string text = MachineSettingsAsInstalled();
    EXPECT_EQ(ini::ReadValue(text, "Main", "ConnectionType"), "LAN");
    for (const char* key : {"NTPServer", "Delay", "Tolerance", "PCOffset", "QuietMode"})
        EXPECT_EQ(ini::ReadValue(text, "Main", key), std::nullopt) << key;
}

TEST(InstallerCommand, TheFirstArgumentDecidesAndWrongArgumentsDoNothing)
{
    using Kind = InstallerCommand::Kind;
    using Presets = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::tuple<Strings, Kind, Presets, bool>> cases{
        {{}, Kind::None, {}, false},
        {{"--machine", "--install-machine"}, Kind::None, {}, false},
        {{"--install-machine", "NTPServer=a.example (A, Town)", "Delay=10", "Tolerance=-5"},
         Kind::Install,
         {{"NTPServer", "a.example (A, Town)"}, {"Delay", "10"}, {"Tolerance", "-5"}},
         false},
        // Keys in any case, values trimmed; an empty value (an unset MSI property) presets nothing.
        {{"--install-machine", " ntpserver = a.example ", "DELAY=", "tolerance= "},
         Kind::Install,
         {{"NTPServer", "a.example"}},
         false},
        {{"--install-machine", "Server=a"}, Kind::Install, {}, true},
        {{"--install-machine", "Delay=1.5"}, Kind::Install, {}, true},
        {{"--install-machine", "Tolerance=1234567890"}, Kind::Install, {}, true},
        {{"--install-machine", "NTPServer=a\r\nQuietMode=N"}, Kind::Install, {}, true},
        {{"--install-machine", "Delay=5", "NTPServer"}, Kind::Install, {}, true},
        {{"--preset-settings", "NTPServer=a.example (A)", "Delay=", "Tolerance=7"},
         Kind::PresetSettings,
         {{"NTPServer", "a.example (A)"}, {"Tolerance", "7"}},
         false},
        {{"--preset-settings", "QuietMode=Y"}, Kind::PresetSettings, {}, true},
        {{"--uninstall-machine", "--all"}, Kind::Uninstall, {}, true},
        {{"--write-task-xml", "a.xml", "b.xml"}, Kind::WriteTaskXml, {}, true},
    };
    for (const auto& [args, kind, presets, error] : cases) {
        const InstallerCommand command = ParseInstallerCommand(args);
        const std::string label = args.empty() ? "(none)" : args.back();
        EXPECT_EQ(command.kind, kind) << label;
        EXPECT_EQ(!command.error.empty(), error) << label << ": " << command.error;
        Presets got;
        for (const auto& preset : command.presets)
            got.emplace_back(preset.key, preset.value);
        EXPECT_EQ(got, presets) << label;
    }
    EXPECT_TRUE(ParseInstallerCommand({"--uninstall-machine", "--purge"}).purge);
    EXPECT_EQ(ParseInstallerCommand({"--write-task-xml", "C:\\t.xml"}).file, "C:\\t.xml");
}

// A new file gets the LAN too, so that its first run neither opens the dialog
// nor dials; an existing one only what was given; nothing given, no file.
TEST(InstallerCommand, PresetSettingsWriteTheLanOnlyIntoANewFile)
{
    const std::vector<Preset> server{{"NTPServer", "a.example (A)"}};
    ASSERT_EQ(PresetsToWrite(server, false).size(), 2u);
    EXPECT_EQ(PresetsToWrite(server, false)[1].key + "=" + PresetsToWrite(server, false)[1].value,
              "ConnectionType=LAN");
    EXPECT_EQ(PresetsToWrite(server, true).size(), 1u);
    EXPECT_TRUE(PresetsToWrite({}, false).empty());
}

TEST(MachineMode, TheOptionAsAWholeArgumentAndTheDialogAsAdministratorOnce)
{
    EXPECT_TRUE(IsMachineMode({"config", "--machine"}));
    for (const auto& args : std::vector<Strings>{{}, {"machine"}, {"--machines"}, {"--MACHINE"}, {"x --machine"}})
        EXPECT_FALSE(IsMachineMode(args)) << (args.empty() ? "" : args[0]);

    EXPECT_TRUE(StartsAgainAsAdministrator({"RECONFIGURE", "--machine"}, false));
    EXPECT_FALSE(StartsAgainAsAdministrator({"--machine", "config"}, true));
    EXPECT_FALSE(StartsAgainAsAdministrator({"--machine", "config", kElevatedOption}, false));
    EXPECT_FALSE(StartsAgainAsAdministrator({"--machine"}, false));  // the task's run
    EXPECT_FALSE(StartsAgainAsAdministrator({"config"}, false));     // a user's own settings
}

TEST(RunFolders, EachKindOfRunHasItsOwnAndEachFixFitsIt)
{
    const Folders folders{"C:\\Program Files\\Veltrane", "C:\\ProgramData", "C:\\Users\\ann\\AppData\\Local"};
    EXPECT_EQ(ChooseProgramFolder(RunKind::OwnCopy, folders), "C:\\Program Files\\Veltrane");
    EXPECT_EQ(ChooseProgramFolder(RunKind::SharedCopy, folders), "C:\\Users\\ann\\AppData\\Local\\Veltrane");
    EXPECT_EQ(ChooseProgramFolder(RunKind::Machine, folders), "C:\\ProgramData\\Veltrane");
    // A folder the system does not name: the program's own.
    EXPECT_EQ(ChooseProgramFolder(RunKind::Machine, {"C:\\V", "", ""}), "C:\\V");

    EXPECT_NE(ClockRightFix(RunKind::OwnCopy).find("install Veltrane for all users"), std::string::npos);
    EXPECT_NE(ClockRightFix(RunKind::SharedCopy).find(std::string("\"") + kTaskName + "\""), std::string::npos);
    EXPECT_NE(ClockRightFix(RunKind::Machine).find("LOCAL SERVICE"), std::string::npos);
}

}  // namespace
}  // namespace vel::win32
