// The install for all users on Windows: the task's XML against what Task
// Scheduler's schema (1.2) requires, the installers' commands, the folders of
// each kind of run, the machine's option.
#include "common/win32_machine.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/ini_text.h"
#include "common/machine_mode.h"

namespace vel::win32 {
namespace {

// Just enough XML for the task: elements, attributes, text, the five
// entities; a mismatched end tag fails the test.
struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::string text;
    std::vector<std::unique_ptr<Element>> children;

    const Element& Child(const std::string& childName) const
    {
        for (const auto& child : children) {
            if (child->name == childName)
                return *child;
        }
        ADD_FAILURE() << name << " has no " << childName;
        static const Element none;
        return none;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& child : children)
            names.push_back(child->name);
        return names;
    }
};

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        const std::size_t end = text.find(';', i);
        const std::string entity = text.substr(i + 1, end - i - 1);
        const std::map<std::string, char> known{{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        EXPECT_TRUE(known.count(entity)) << entity;
        out += known.count(entity) ? known.at(entity) : '?';
        i = end;
    }
    return out;
}

std::unique_ptr<Element> Parse(const std::string& xml)
{
    auto root = std::make_unique<Element>();
    std::vector<Element*> open{root.get()};
    std::size_t at = xml.find("?>") + 2;  // after the declaration
    while ((at = xml.find('<', at)) != std::string::npos) {
        const std::size_t end = xml.find('>', at);
        std::string tag = xml.substr(at + 1, end - at - 1);
        if (tag[0] == '/') {
            EXPECT_EQ(tag.substr(1), open.back()->name);
            open.pop_back();
        } else {
            const bool empty = tag.back() == '/';
            auto element = std::make_unique<Element>();
            element->name = tag.substr(0, tag.find_first_of(" /"));
            for (std::size_t eq = tag.find('='); eq != std::string::npos; eq = tag.find('=', eq + 1)) {
                const std::size_t nameStart = tag.rfind(' ', eq) + 1;
                const std::size_t valueEnd = tag.find('"', eq + 2);
                element->attributes[tag.substr(nameStart, eq - nameStart)] = tag.substr(eq + 2, valueEnd - eq - 2);
            }
            const std::size_t next = xml.find('<', end);
            element->text = Unescape(xml.substr(end + 1, next - end - 1));
            Element* added = element.get();
            open.back()->children.push_back(std::move(element));
            if (!empty)
                open.push_back(added);
        }
        at = end;
    }
    EXPECT_EQ(open.size(), 1u) << "unclosed elements";
    return root;
}

TEST(TaskXml, DeclaresUtf16AndEndsItsLinesInCrLf)
{
    const std::string xml = TaskXml("C:\\Program Files\\Veltrane\\veltrane.exe");
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n", 0), 0u);
    std::size_t lines = 0;
    for (std::size_t i = 1; i < xml.size(); ++i) {
        if (xml[i] == '\n') {
            ++lines;
            EXPECT_EQ(xml[i - 1], '\r') << "line " << lines;
        }
    }
    EXPECT_GT(lines, 10u);
    EXPECT_EQ(xml.substr(xml.size() - 9), "</Task>\r\n");
}

TEST(TaskXml, RunsTheProgramForTheMachineAsLocalServiceWithoutElevation)
{
    const auto root = Parse(TaskXml("C:\\Program Files\\Veltrane\\veltrane.exe"));
    const Element& task = root->Child("Task");
    EXPECT_EQ(task.attributes.at("version"), "1.2");
    EXPECT_EQ(task.attributes.at("xmlns"), "http://schemas.microsoft.com/windows/2004/02/mit/task");

    const Element& principal = task.Child("Principals").Child("Principal");
    EXPECT_EQ(principal.Child("UserId").text, "S-1-5-19");
    EXPECT_EQ(principal.Child("RunLevel").text, "LeastPrivilege");
    // The schema's LogonType knows no service account: the SID says it.
    EXPECT_EQ(principal.Names(), (std::vector<std::string>{"UserId", "RunLevel"}));

    const Element& actions = task.Child("Actions");
    EXPECT_EQ(actions.attributes.at("Context"), principal.attributes.at("id"));
    EXPECT_EQ(actions.Names(), std::vector<std::string>{"Exec"});
    EXPECT_EQ(actions.Child("Exec").Child("Command").text, "C:\\Program Files\\Veltrane\\veltrane.exe");
    EXPECT_EQ(actions.Child("Exec").Child("Arguments").text, kMachineOption);
}

TEST(TaskXml, TriggersAtStartUpAtAnyLogOnAndDailyInTheSchemasOrder)
{
    const auto root = Parse(TaskXml("C:\\v.exe"));
    const Element& triggers = root->Child("Task").Child("Triggers");
    EXPECT_EQ(triggers.Names(), (std::vector<std::string>{"BootTrigger", "LogonTrigger", "CalendarTrigger"}));
    // Each trigger's elements in the order of the schema's sequences.
    const std::vector<std::pair<std::string, std::vector<std::string>>> expected{
        {"BootTrigger", {"Enabled", "Delay"}},
        {"LogonTrigger", {"Enabled", "Delay"}},  // no UserId: anyone's log-on
        {"CalendarTrigger", {"Enabled", "StartBoundary", "RandomDelay", "ScheduleByDay"}},
    };
    for (const auto& [name, children] : expected) {
        EXPECT_EQ(triggers.Child(name).Names(), children) << name;
        EXPECT_EQ(triggers.Child(name).Child("Enabled").text, "true") << name;
    }
    const Element& daily = triggers.Child("CalendarTrigger");
    EXPECT_EQ(daily.Child("ScheduleByDay").Child("DaysInterval").text, "1");
    EXPECT_EQ(daily.Child("RandomDelay").text, "PT10M");
    EXPECT_EQ(triggers.Child("BootTrigger").Child("Delay").text, "PT1M");
}

TEST(TaskXml, BoundedNeverTwiceOnlyWithANetworkAndOnBatteries)
{
    const auto root = Parse(TaskXml("C:\\v.exe"));
    const Element& settings = root->Child("Task").Child("Settings");
    const std::map<std::string, std::string> expected{
        {"MultipleInstancesPolicy", "IgnoreNew"}, {"ExecutionTimeLimit", "PT10M"},
        {"RunOnlyIfNetworkAvailable", "true"},    {"StartWhenAvailable", "true"},
        {"DisallowStartIfOnBatteries", "false"},  {"StopIfGoingOnBatteries", "false"},
    };
    EXPECT_EQ(settings.children.size(), expected.size());
    for (const auto& [name, value] : expected)
        EXPECT_EQ(settings.Child(name).text, value) << name;
}

TEST(TaskXml, AProgramPathIsEscaped)
{
    for (const std::string path : {"C:\\Tools & More\\veltrane.exe", "D:\\<odd>\\v.exe", "C:\\Ärger\\\"x\".exe"}) {
        const std::string xml = TaskXml(path);
        EXPECT_EQ(Parse(xml)->Child("Task").Child("Actions").Child("Exec").Child("Command").text, path);
        EXPECT_EQ(xml.find("& "), std::string::npos) << path;
        EXPECT_EQ(xml.find("<odd>"), std::string::npos) << path;
    }
}

TEST(MachineSettings, AsInstalledTheLanAndTheRestInComments)
{
    const std::string text = MachineSettingsAsInstalled();
    EXPECT_EQ(ini::ReadValue(text, "Main", "ConnectionType"), "LAN");
    for (const char* key : {"NTPServer", "Delay", "Tolerance", "PCOffset", "QuietMode", "OnlyIfConnected"})
        EXPECT_EQ(ini::ReadValue(text, "Main", key), std::nullopt) << key;
    // A preset lands in the section, after its comments.
    EXPECT_EQ(ini::ReadValue(ini::WriteValue(text, "Main", "NTPServer", "a.example"), "Main", "NTPServer"),
              "a.example");
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
}

TEST(InstallerCommand, TheFirstArgumentDecidesAndWrongArgumentsDoNothing)
{
    using Kind = InstallerCommand::Kind;
    struct Case {
        std::vector<std::string> args;
        Kind kind;
        std::vector<std::pair<std::string, std::string>> presets;
        bool error;
    };
    const std::vector<Case> cases{
        {{}, Kind::None, {}, false},
        {{"config"}, Kind::None, {}, false},
        {{"--machine", "--install-machine"}, Kind::None, {}, false},
        {{"--install-machine"}, Kind::Install, {}, false},
        {{"--install-machine", "NTPServer=time.example.org (Example, Town)", "Delay=10", "Tolerance=-5"},
         Kind::Install,
         {{"NTPServer", "time.example.org (Example, Town)"}, {"Delay", "10"}, {"Tolerance", "-5"}},
         false},
        // Keys in any case, values trimmed, an empty value (an unset MSI property) presets nothing.
        {{"--install-machine", " ntpserver = a.example ", "DELAY=", "tolerance= "},
         Kind::Install,
         {{"NTPServer", "a.example"}},
         false},
        {{"--install-machine", "Server=a"}, Kind::Install, {}, true},
        {{"--install-machine", "Delay=ten"}, Kind::Install, {}, true},
        {{"--install-machine", "Delay=1.5"}, Kind::Install, {}, true},
        {{"--install-machine", "Tolerance=1234567890"}, Kind::Install, {}, true},
        {{"--install-machine", "NTPServer=a\r\nQuietMode=N"}, Kind::Install, {}, true},
        {{"--install-machine", "Delay=5", "NTPServer"}, Kind::Install, {}, true},
        {{"--uninstall-machine", "--all"}, Kind::Uninstall, {}, true},
        {{"--write-task-xml"}, Kind::WriteTaskXml, {}, true},
        {{"--write-task-xml", "a.xml", "b.xml"}, Kind::WriteTaskXml, {}, true},
    };
    for (const auto& c : cases) {
        const InstallerCommand command = ParseInstallerCommand(c.args);
        const std::string label = c.args.empty() ? "(none)" : c.args.back();
        EXPECT_EQ(command.kind, c.kind) << label;
        EXPECT_EQ(!command.error.empty(), c.error) << label << ": " << command.error;
        std::vector<std::pair<std::string, std::string>> presets;
        for (const auto& preset : command.presets)
            presets.emplace_back(preset.key, preset.value);
        EXPECT_EQ(presets, c.presets) << label;
    }
    EXPECT_TRUE(ParseInstallerCommand({"--uninstall-machine", "--purge"}).purge);
    EXPECT_FALSE(ParseInstallerCommand({"--uninstall-machine"}).purge);
    EXPECT_EQ(ParseInstallerCommand({"--write-task-xml", "C:\\t.xml"}).file, "C:\\t.xml");
}

TEST(MachineMode, TheOptionAsAWholeArgument)
{
    EXPECT_TRUE(IsMachineMode({"--machine"}));
    EXPECT_TRUE(IsMachineMode({"config", "--machine"}));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"machine"}, {"--machines"}, {"--MACHINE"}, {"--machine=1"}, {"x --machine"}})
        EXPECT_FALSE(IsMachineMode(args)) << (args.empty() ? "" : args[0]);
}

TEST(MachineMode, OnlyTheMachinesDialogStartsAgainAsAdministratorAndOnce)
{
    EXPECT_TRUE(StartsAgainAsAdministrator({"--machine", "config"}, false));
    EXPECT_TRUE(StartsAgainAsAdministrator({"RECONFIGURE", "--machine"}, false));
    EXPECT_FALSE(StartsAgainAsAdministrator({"--machine", "config"}, true));
    EXPECT_FALSE(StartsAgainAsAdministrator({"--machine", "config", kElevatedOption}, false));
    EXPECT_FALSE(StartsAgainAsAdministrator({"--machine"}, false));  // the task's run
    EXPECT_FALSE(StartsAgainAsAdministrator({"config"}, false));     // a user's own settings
}

TEST(RunFolders, EachKindOfRunHasItsOwn)
{
    const Folders folders{"C:\\Program Files\\Veltrane", "C:\\ProgramData", "C:\\Users\\ann\\AppData\\Local"};
    EXPECT_EQ(ChooseProgramFolder(RunKind::OwnCopy, folders), "C:\\Program Files\\Veltrane");
    EXPECT_EQ(ChooseProgramFolder(RunKind::SharedCopy, folders), "C:\\Users\\ann\\AppData\\Local\\Veltrane");
    EXPECT_EQ(ChooseProgramFolder(RunKind::Machine, folders), "C:\\ProgramData\\Veltrane");
    // A folder the system does not name: the program's own.
    EXPECT_EQ(ChooseProgramFolder(RunKind::Machine, {"C:\\V", "", ""}), "C:\\V");
    EXPECT_EQ(ChooseProgramFolder(RunKind::SharedCopy, {"C:\\V", "", ""}), "C:\\V");
}

TEST(RunFolders, ARefusedSettingNamesTheFixThatFitsTheRun)
{
    EXPECT_NE(ClockRightFix(RunKind::OwnCopy).find("install Veltrane for all users"), std::string::npos);
    EXPECT_NE(ClockRightFix(RunKind::SharedCopy).find(std::string("\"") + kTaskName + "\""), std::string::npos);
    EXPECT_NE(ClockRightFix(RunKind::Machine).find("LOCAL SERVICE"), std::string::npos);
}

}  // namespace
}  // namespace vel::win32
