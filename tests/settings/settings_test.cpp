// The settings record and the settings file: loading with its defaults,
// clamps and repair writes, and saving.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "app/app.h"
#include "common/ini_text.h"
#include "support/test_app.h"

// The settings file on disk, through this system's own INI back end.
#ifdef _WIN32
#include "platform/win32/win32_profile_file.h"
using DiskProfileFile = vel::platform::Win32ProfileFile;
#else
#include "platform/linux/linux_profile_file.h"
using DiskProfileFile = vel::platform::LinuxProfileFile;
#endif

namespace vel {
namespace {

using std::string;
using test::IniFixture;

constexpr const char* kDefaultEntry = "time.nist.gov (NIST Internet Time Service)";

class SettingsTest : public ::testing::Test {
protected:
    test::TestApp t;
    App& app = t.app;
    Settings& s = t.app.settings;

    std::optional<string> FileValue(const string& key) { return ini::ReadValue(t.SettingsText(), "Main", key); }
    bool FileExists() { return t.env.files.count(t.SettingsPath()) != 0; }
};

TEST_F(SettingsTest, PathIsTheProgramFolderAndOneFileName)
{
    EXPECT_EQ(SettingsFilePath(app), "/app/Veltrane.INI");
    EXPECT_EQ(SettingsFilePath(app), t.SettingsPath());
    t.env.programFolder = "/opt/veltrane";
    EXPECT_EQ(SettingsFilePath(app), "/opt/veltrane/Veltrane.INI");
}

TEST_F(SettingsTest, DefaultEntryNamesNistsServersLikeTheListEntries)
{
    EXPECT_STREQ(kDefaultNTPServer, kDefaultEntry);
}

// ---- Loading ---------------------------------------------------------------

TEST_F(SettingsTest, MissingFileGivesDefaultsAndTheLoaderCreatesTheFile)
{
    s.ConnectionType = "stale";
    s.QuietMode = "Y";
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, kDefaultEntry);
    EXPECT_EQ(s.Delay, "3");
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_EQ(s.Tolerance, 30);
    EXPECT_EQ(s.PCOffset, 0);
    EXPECT_EQ(s.ConnectionType, "");
    EXPECT_EQ(s.Connectoid, "");
    EXPECT_EQ(s.QuietMode, "");
    EXPECT_EQ(s.OnlyIfConnected, "");
    EXPECT_EQ(t.SettingsText(), "[Main]\r\nNTPServer=" + string(kDefaultEntry) + "\r\nDelay=3\r\n");
}

TEST_F(SettingsTest, FirstConfigurationWritesTheKeysInTheirOrder)
{
    LoadSettings(app);  // the dialog opening
    s.ConnectionType = "LAN";
    s.Connectoid = "";
    s.QuietMode = "";
    s.OnlyIfConnected = "";
    SaveSettings(app);  // its OK
    EXPECT_EQ(t.SettingsText(), IniFixture("first_configuration.ini"));
}

TEST_F(SettingsTest, CompleteFileLoadsAsItStandsWithoutWrites)
{
    t.WriteSettings(IniFixture("first_configuration.ini"));
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, kDefaultEntry);
    EXPECT_EQ(s.Delay, "3");
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_EQ(s.ConnectionType, "LAN");
    EXPECT_EQ(s.QuietMode, "N");
    EXPECT_EQ(s.OnlyIfConnected, "N");
    EXPECT_EQ(t.profile.writes, 0);
    EXPECT_EQ(t.SettingsText(), IniFixture("first_configuration.ini"));
}

struct DelayCase {
    std::optional<string> line;  // the Delay line's value; nullopt: no Delay line
    int seconds;                 // DelaySeconds after the load
    string text;                 // Delay in the record and the file after the load
    bool repaired;               // whether the loader wrote Delay
};

// Readable names for the parameterised cases.
void PrintTo(const DelayCase& c, std::ostream* os)
{
    *os << (c.line ? "\"" + *c.line + "\"" : string("no line"));
}

class DelayTest : public SettingsTest, public ::testing::WithParamInterface<DelayCase> {};

TEST_P(DelayTest, ClampedToThreeToSixtyWithRepairWrite)
{
    const DelayCase& c = GetParam();
    const string before = "[Main]\r\nNTPServer=time.example (Test, Here)\r\n" +
                          (c.line ? "Delay=" + *c.line + "\r\n" : string()) + "QuietMode=Y\r\n";
    t.WriteSettings(before);
    LoadSettings(app);
    EXPECT_EQ(s.DelaySeconds, c.seconds);
    EXPECT_EQ(s.Delay, c.text);
    EXPECT_EQ(FileValue("Delay"), std::optional<string>(c.text));
    EXPECT_EQ(t.profile.writes, c.repaired ? 1 : 0);
    if (!c.repaired) {
        EXPECT_EQ(t.SettingsText(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Delay, DelayTest,
    ::testing::Values(DelayCase{"0", 3, "3", true}, DelayCase{"2", 3, "3", true}, DelayCase{"2.5", 3, "3", true},
                      DelayCase{"-5", 3, "3", true}, DelayCase{"soon", 3, "3", true}, DelayCase{"", 3, "3", true},
                      DelayCase{std::nullopt, 3, "3", true}, DelayCase{"61", 60, "60", true},
                      DelayCase{"500", 60, "60", true}, DelayCase{"99999999999999999999", 60, "60", true},
                      DelayCase{"1e999", 60, "60", true}, DelayCase{"-1e999", 3, "3", true},
                      DelayCase{"65536", 60, "60", true}, DelayCase{"3", 3, "3", false},
                      DelayCase{"60", 60, "60", false}, DelayCase{"59.5", 60, "59.5", false},
                      DelayCase{"60.5", 60, "60.5", false}, DelayCase{"2.51", 3, "2.51", false},
                      DelayCase{"10.4", 10, "10.4", false}, DelayCase{" 7 seconds", 7, "7 seconds", false}));

TEST_F(SettingsTest, DelayRepairReplacesTheLineWhereItStands)
{
    t.WriteSettings("[Main]\r\nDelay = 500\r\nNTPServer=a b\r\n");
    LoadSettings(app);
    EXPECT_EQ(t.SettingsText(), "[Main]\r\nDelay = 60\r\nNTPServer=a b\r\n");
}

TEST_F(SettingsTest, BlankNTPServerIsReplacedByTheDefaultInRecordAndFile)
{
    for (const string line : {"NTPServer=", "NTPServer=     ", "NTPServer=\"   \""}) {
        t.WriteSettings("[Main]\r\n" + line + "\r\nDelay=5\r\n");
        LoadSettings(app);
        EXPECT_EQ(s.NTPServer, kDefaultEntry) << line;
        EXPECT_EQ(t.SettingsText(), "[Main]\r\nNTPServer=" + string(kDefaultEntry) + "\r\nDelay=5\r\n") << line;
    }
    // Anything else, however odd, is kept as it is.
    t.WriteSettings("[Main]\r\nNTPServer=\" x \"\r\nDelay=5\r\n");
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, " x ");
}

struct NumberCase {
    std::optional<string> line;
    std::int32_t value;
};

void PrintTo(const NumberCase& c, std::ostream* os)
{
    *os << (c.line ? "\"" + *c.line + "\"" : string("no line"));
}

// The step guard's keys, as an administrator adds them.
const string kGuardKeys = "SecondServers=b.test\r\nHTTPSServers=c.test:8443\r\nHTTPSCheck=ALWAYS\r\n";

class ToleranceTest : public SettingsTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(ToleranceTest, NumberOrDefault)
{
    const NumberCase& c = GetParam();
    const string before =
        "[Main]\r\nNTPServer=a\r\nDelay=5\r\n" + (c.line ? "Tolerance=" + *c.line + "\r\n" : string());
    t.WriteSettings(before);
    LoadSettings(app);
    EXPECT_EQ(s.Tolerance, c.value);
    EXPECT_EQ(t.SettingsText(), before);  // never written
}

INSTANTIATE_TEST_SUITE_P(Tolerance, ToleranceTest,
                         ::testing::Values(NumberCase{std::nullopt, 30}, NumberCase{"", 30}, NumberCase{"word", 0},
                                           NumberCase{"nan", 0}, NumberCase{"12.5", 12}, NumberCase{"13.5", 14},
                                           NumberCase{"-45", -45}, NumberCase{"0", 0},
                                           NumberCase{"2147483647", 2147483647},
                                           NumberCase{"-2147483648", -2147483647 - 1}, NumberCase{"2147483648", 30},
                                           NumberCase{"-2147483649", 30}, NumberCase{"4294967326", 30},
                                           NumberCase{"1e999", 30}, NumberCase{"-1e999", 30}, NumberCase{"1e10", 30}));

class PCOffsetTest : public SettingsTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(PCOffsetTest, NumberOrDefault)
{
    const NumberCase& c = GetParam();
    t.WriteSettings("[Main]\r\nNTPServer=a\r\nDelay=5\r\n" + (c.line ? "PCOffset=" + *c.line + "\r\n" : string()));
    s.PCOffset = 77;
    LoadSettings(app);
    EXPECT_EQ(s.PCOffset, c.value);
}

INSTANTIATE_TEST_SUITE_P(PCOffset, PCOffsetTest,
                         ::testing::Values(NumberCase{std::nullopt, 0}, NumberCase{"", 0}, NumberCase{"word", 0},
                                           NumberCase{"-2", -2}, NumberCase{"7.5", 8}, NumberCase{"3600", 3600},
                                           NumberCase{"2147483648", 0}, NumberCase{"-9e9", 0}, NumberCase{"1e999", 0}));

TEST_F(SettingsTest, TextKeysComeAsTheyAre)
{
    t.WriteSettings(
        "[Main]\r\nNTPServer=a\r\nDelay=5\r\nConnectionType=lan\r\nConnectoid=  My ISP (fast)  \r\n"
        "QuietMode=y\r\nOnlyIfConnected=Yes\r\n");
    LoadSettings(app);
    EXPECT_EQ(s.ConnectionType, "lan");
    EXPECT_EQ(s.Connectoid, "My ISP (fast)");
    EXPECT_EQ(s.QuietMode, "y");
    EXPECT_EQ(s.OnlyIfConnected, "Yes");
}

TEST_F(SettingsTest, HandEditedFileIsReadWithoutCaseOrBlanks)
{
    t.WriteSettings(IniFixture("hand_edited.ini"));
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, "time-a.nist.gov (NIST, Gaithersburg, Maryland)");
    EXPECT_EQ(s.Delay, "10.4");
    EXPECT_EQ(s.DelaySeconds, 10);
    EXPECT_EQ(s.Tolerance, 12);
    EXPECT_EQ(s.PCOffset, -2);
    EXPECT_EQ(s.ConnectionType, "lan");
    EXPECT_EQ(t.profile.writes, 0);
}

TEST_F(SettingsTest, LongValueIsReadAsItsFirst259Characters)
{
    const string value(300, 'h');
    t.WriteSettings("[Main]\r\nNTPServer=" + value + "\r\nConnectoid=" + value + "\r\nDelay=5\r\n");
    const IniValue read = ReadIniValue(app, t.SettingsPath(), "Main", "Connectoid");
    EXPECT_EQ(read.value, string(259, 'h'));
    EXPECT_EQ(read.count, 259);
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, string(259, 'h'));
    EXPECT_EQ(s.Connectoid, string(259, 'h'));
}

TEST_F(SettingsTest, ReadIniValueEndsAValueAtANul)
{
    t.WriteSettings("[Main]\r\nA=" + string("ab\0cd", 5) + "\r\nB=" + string("\0x", 2) + "\r\n");
    EXPECT_EQ(ReadIniValue(app, t.SettingsPath(), "Main", "A").value, "ab");
    EXPECT_EQ(ReadIniValue(app, t.SettingsPath(), "Main", "B").value, "");
    const IniValue missing = ReadIniValue(app, t.SettingsPath(), "Main", "C");
    EXPECT_EQ(missing.value, "");
    EXPECT_EQ(missing.count, 0);
}

TEST_F(SettingsTest, DuplicateSectionsAndKeys)
{
    t.WriteSettings(IniFixture("duplicate_sections.ini"));
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, "ntp-s1.cise.ufl.edu (University of Florida, Gainesville, FL)");
    EXPECT_EQ(s.DelaySeconds, 5);
    EXPECT_EQ(s.QuietMode, "");  // only in the second [Main]
    SaveSettings(app);
    EXPECT_EQ(s.QuietMode, "N");
    EXPECT_EQ(FileValue("QuietMode"), std::optional<string>("N"));
    // The second section is left as it was.
    const string text = t.SettingsText();
    EXPECT_NE(text.find("\r\n\r\n[Main]\r\nNTPServer=time.nist.gov (NIST, Boulder, Colorado)\r\nQuietMode=Y\r\n"),
              string::npos);
}

TEST_F(SettingsTest, GarbageOrSectionlessFileGivesDefaultsAndKeepsItsBytes)
{
    string garbage = "NTPServer=not in a section\r\n";
    for (int i = 0; i < 512; ++i)
        garbage += static_cast<char>((i * 131 + 7) % 256);
    t.WriteSettings(garbage);
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, kDefaultEntry);
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_EQ(s.Tolerance, 30);
    const string text = t.SettingsText();
    EXPECT_EQ(text.substr(0, garbage.size()), garbage);
    EXPECT_EQ(FileValue("NTPServer"), std::optional<string>(kDefaultEntry));
    EXPECT_EQ(FileValue("Delay"), std::optional<string>("3"));
}

// ---- Saving ----------------------------------------------------------------

TEST_F(SettingsTest, SaveNormalisesYesNoToExactlyYOrN)
{
    t.WriteSettings("[Main]\r\nNTPServer=a\r\nDelay=5\r\n");
    LoadSettings(app);
    const struct {
        string before;
        string after;
    } cases[] = {{"y", "N"}, {"Y", "Y"}, {"", "N"}, {"yes", "N"}, {"Y ", "N"}, {"N", "N"}};
    for (const auto& c : cases) {
        s.QuietMode = c.before;
        s.OnlyIfConnected = c.before;
        SaveSettings(app);
        EXPECT_EQ(s.QuietMode, c.after) << c.before;
        EXPECT_EQ(s.OnlyIfConnected, c.after) << c.before;
        EXPECT_EQ(FileValue("QuietMode"), std::optional<string>(c.after)) << c.before;
        EXPECT_EQ(FileValue("OnlyIfConnected"), std::optional<string>(c.after)) << c.before;
    }
}

TEST_F(SettingsTest, SaveOfAHandEditedFileKeepsEverythingElse)
{
    t.WriteSettings(IniFixture("hand_edited.ini"));
    LoadSettings(app);
    SaveSettings(app);
    EXPECT_EQ(t.SettingsText(), IniFixture("hand_edited.saved.ini"));
    EXPECT_EQ(s.QuietMode, "N");
}

class StepLimitTest : public SettingsTest, public ::testing::WithParamInterface<NumberCase> {};

// The step guard's limit: missing, empty or out of range is an hour; a word
// is 0 (every correction needs a second source). Never written.
TEST_P(StepLimitTest, NumberOrDefault)
{
    const NumberCase& c = GetParam();
    const string before =
        "[Main]\r\nNTPServer=a\r\nDelay=5\r\n" + (c.line ? "StepLimit=" + *c.line + "\r\n" : string());
    t.WriteSettings(before);
    LoadSettings(app);
    SaveSettings(app);
    EXPECT_EQ(s.StepLimit, c.value);
    EXPECT_EQ(t.SettingsText().find("StepLimit"), before.find("StepLimit"));
}

INSTANTIATE_TEST_SUITE_P(StepLimit, StepLimitTest,
                         ::testing::Values(NumberCase{std::nullopt, 3600}, NumberCase{"", 3600}, NumberCase{"word", 0},
                                           NumberCase{"86400", 86400}, NumberCase{"-5", -5},
                                           NumberCase{"1e999", 3600}));

TEST_F(SettingsTest, HandAddedToleranceAndPCOffsetAndPreciseSurviveSaves)
{
    t.WriteSettings(IniFixture("first_configuration.ini") + "Tolerance=120\r\nPCOffset=-3600\r\nPrecise=N\r\n" +
                    kGuardKeys);
    for (int run = 0; run < 5; ++run) {
        LoadSettings(app);
        s.Delay = std::to_string(10 + run);
        s.Connectoid = "Entry " + std::to_string(run);
        SaveSettings(app);
        EXPECT_EQ(FileValue("Tolerance"), std::optional<string>("120"));
        EXPECT_EQ(FileValue("PCOffset"), std::optional<string>("-3600"));
        EXPECT_EQ(FileValue("Precise"), std::optional<string>("N"));
    }
    LoadSettings(app);
    EXPECT_EQ(s.Tolerance, 120);
    EXPECT_EQ(s.PCOffset, -3600);
    EXPECT_EQ(s.Precise, "N");
    EXPECT_EQ(s.Delay, "14");
    EXPECT_EQ(t.SettingsText(),
              "[Main]\r\nNTPServer=" + string(kDefaultEntry) +
                  "\r\nDelay=14\r\nConnectionType=LAN\r\nConnectoid=Entry 4\r\nQuietMode=N\r\nOnlyIfConnected=N\r\n"
                  "Tolerance=120\r\nPCOffset=-3600\r\nPrecise=N\r\n" +
                  kGuardKeys);
    EXPECT_EQ(s.SecondServers, "b.test");
    EXPECT_EQ(s.HTTPSServers, "c.test:8443");
    EXPECT_EQ(s.HTTPSCheck, "ALWAYS");
}

TEST_F(SettingsTest, SaveWritesTheDelayTextAndLeavesDelaySecondsAlone)
{
    t.WriteSettings(IniFixture("first_configuration.ini"));
    LoadSettings(app);
    s.Delay = "0";  // typed into the dialog; the next load repairs it
    SaveSettings(app);
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_EQ(FileValue("Delay"), std::optional<string>("0"));
    s.Delay = "45";
    SaveSettings(app);
    EXPECT_EQ(s.DelaySeconds, 3);
    LoadSettings(app);
    EXPECT_EQ(s.DelaySeconds, 45);
}

// ---- A file that cannot be written ------------------------------------------

TEST_F(SettingsTest, UnwritableFolderChangesNothingAndTheRecordHoldsTheDefaults)
{
    t.env.writable = false;
    LoadSettings(app);
    EXPECT_FALSE(FileExists());
    EXPECT_EQ(s.NTPServer, kDefaultEntry);
    EXPECT_EQ(s.Delay, "3");
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_EQ(s.Tolerance, 30);
    SaveSettings(app);
    EXPECT_FALSE(FileExists());
    EXPECT_EQ(s.QuietMode, "N");
    EXPECT_EQ(WriteIniValue(app, t.SettingsPath(), "Main", "Delay", "3"), 0);
}

TEST_F(SettingsTest, FolderAtTheSettingsPath)
{
    t.env.folders.insert(t.SettingsPath());
    LoadSettings(app);
    EXPECT_EQ(s.NTPServer, kDefaultEntry);
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_EQ(WriteIniValue(app, t.SettingsPath(), "Main", "Delay", "3"), 0);
    t.env.folders.clear();
    EXPECT_EQ(WriteIniValue(app, t.SettingsPath(), "Main", "Delay", "3"), 1);
}

// ---- Saves that fail, files too large -----------------------------------------

TEST_F(SettingsTest, ASaveThatFailsIsReportedWithTheFileAndTheReason)
{
    LoadSettings(app);
    EXPECT_TRUE(SaveSettings(app));
    EXPECT_EQ(app.settingsSaveError, "");
    t.env.writable = false;
    EXPECT_FALSE(SaveSettings(app));
    EXPECT_EQ(app.settingsSaveError, "/app/Veltrane.INI: Permission denied (error 13)");
    t.env.writable = true;
    EXPECT_TRUE(SaveSettings(app));
    EXPECT_EQ(app.settingsSaveError, "") << "a later save that worked clears it";
    platform::SystemError error;
    t.env.folders.insert(t.SettingsPath());
    EXPECT_EQ(WriteIniValue(app, t.SettingsPath(), "Main", "Delay", "3", &error), 0);
    EXPECT_EQ(error.number, EISDIR);
}

TEST_F(SettingsTest, AFileBeyondTheReadersLimitLeavesAWarning)
{
    t.profile.SetSizeLimit(64);
    const string text = "[Main]\r\nNTPServer=time.example\r\nQuietMode=Y\r\n; padding padding padding\r\nDelay=9\r\n";
    ASSERT_GT(text.size(), 64u);
    t.WriteSettings(text);
    LoadSettings(app);
    EXPECT_EQ(s.QuietMode, "Y");
    EXPECT_EQ(s.DelaySeconds, 3) << "the Delay line lies beyond the limit";
    EXPECT_EQ(app.settingsWarning,
              "WARNING: the settings file /app/Veltrane.INI is larger than 64 bytes; only the keys within its first 64 "
              "bytes were read");
    EXPECT_FALSE(SaveSettings(app));
    t.profile.SetSizeLimit(4096);
    LoadSettings(app);
    EXPECT_EQ(app.settingsWarning, "");
}

// Another user's link at the name: the file is not read, the defaults apply,
// no repair and no save reaches it, and the log will say so.
TEST_F(SettingsTest, AFileThatMustNotBeUsedLeavesAWarningAndTheDefaults)
{
    t.WriteSettings("[Main]\r\nNTPServer=time.example\r\nDelay=99\r\nQuietMode=Y\r\n");
    t.profile.unusable[t.SettingsPath()] = "a symbolic link that belongs to another user";
    LoadSettings(app);
    EXPECT_EQ(app.settingsWarning,
              "WARNING: the settings file /app/Veltrane.INI is not used (a symbolic link that "
              "belongs to another user): the default settings apply, and nothing is written to it");
    EXPECT_EQ(s.NTPServer, kDefaultNTPServer);
    EXPECT_EQ(s.QuietMode, "");
    EXPECT_EQ(s.DelaySeconds, 3);
    EXPECT_FALSE(SaveSettings(app));
    EXPECT_EQ(t.profile.writes, 0);
    EXPECT_EQ(t.env.files[t.SettingsPath()], "[Main]\r\nNTPServer=time.example\r\nDelay=99\r\nQuietMode=Y\r\n");
}

// ---- The table of keys ----------------------------------------------------------

// A key's field after a load, as text: a number in digits, a clamped key as
// its text and its whole seconds.
string Reading(const SettingKey& key, const Settings& settings)
{
    if (key.kind == SettingKind::Number)
        return std::to_string(settings.*key.number);
    if (key.kind == SettingKind::Clamped)
        return settings.*key.text + " " + std::to_string(settings.*key.seconds);
    return settings.*key.text;
}

struct KeyCase {
    string key;
    std::optional<string> line;   // the key's value in the file; nullopt: no line
    string reading;               // its field after a load
    std::optional<bool> yes;      // a yes/no key: whether that says yes
    std::optional<string> saved;  // its value in the file after a save
};

void PrintTo(const KeyCase& c, std::ostream* os)
{
    *os << c.key << (c.line ? "=\"" + *c.line + "\"" : string(" missing"));
}

class SettingKeyTest : public SettingsTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(SettingKeyTest, ReadAndSavedByItsRow)
{
    const KeyCase& c = GetParam();
    const auto row = std::find_if(SettingKeys().begin(), SettingKeys().end(),
                                  [&](const SettingKey& key) { return key.name == c.key; });
    ASSERT_NE(row, SettingKeys().end());
    t.WriteSettings("[Main]\r\n" + (c.line ? c.key + "=" + *c.line + "\r\n" : string()));
    LoadSettings(app);
    EXPECT_EQ(Reading(*row, s), c.reading);
    if (row->kind == SettingKind::YesNo)
        EXPECT_EQ(std::optional<bool>(ReadsAsYes(*row, s.*row->text)), c.yes);
    else
        EXPECT_FALSE(c.yes.has_value());
    ASSERT_TRUE(SaveSettings(app));
    EXPECT_EQ(FileValue(c.key), c.saved);
}

const string kNone;  // an empty reading
const KeyCase kKeyCases[] = {
    {"NTPServer", "  ", kDefaultEntry, {}, kDefaultEntry},
    {"NTPServer", std::nullopt, kDefaultEntry, {}, kDefaultEntry},
    {"ConnectionType", "lan", "lan", {}, "lan"},
    {"Connectoid", std::nullopt, kNone, {}, ""},
    {"Delay", "10.4", "10.4 10", {}, "10.4"},
    {"Delay", "500", "60 60", {}, "60"},
    {"QuietMode", "Y", "Y", true, "Y"},
    {"QuietMode", "y", "y", false, "N"},
    {"QuietMode", std::nullopt, kNone, false, "N"},
    {"OnlyIfConnected", "Yes", "Yes", false, "N"},
    {"OnlyIfConnected", "Y", "Y", true, "Y"},
    {"Tolerance", "", "30", {}, ""},
    {"Tolerance", "word", "0", {}, "word"},
    {"PCOffset", "7.5", "8", {}, "7.5"},
    {"Precise", std::nullopt, kNone, true, std::nullopt},
    {"Precise", "", kNone, true, ""},
    {"Precise", "y", "y", false, "y"},
    {"Precise", "N", "N", false, "N"},
    {"StepLimit", "1e999", "3600", {}, "1e999"},
    {"SecondServers", "N", "N", {}, "N"},
    {"HTTPSServers", " a.test:8443 ", "a.test:8443", {}, "a.test:8443"},
    {"HTTPSCheck", "always", "always", {}, "always"},
    {"NTPFallback", std::nullopt, kNone, true, std::nullopt},
    {"NTPFallback", "N", "N", false, "N"},
};
INSTANTIATE_TEST_SUITE_P(Keys, SettingKeyTest, ::testing::ValuesIn(kKeyCases));

// ---- On real files ------------------------------------------------------------

// The settings routines over this system's INI back end, in a temporary folder.
class SettingsOnDiskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && folder.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() / ("veltrane-settings-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                folder = candidate.string();
        }
        ASSERT_FALSE(folder.empty());
        t.env.programFolder = folder;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    string DiskText()
    {
        std::ifstream in(folder + "/Veltrane.INI", std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    test::TestApp t;
    std::unique_ptr<platform::ProfileFile> disk = std::make_unique<DiskProfileFile>();
    App app{platform::Platform{t.clock, t.pump, t.env, *disk, t.windows, t.socket, t.dialUp, t.shell, t.datagram}};
    string folder;
};

TEST_F(SettingsOnDiskTest, FirstLoadAndSaveMakeTheFile)
{
    LoadSettings(app);
    EXPECT_EQ(DiskText(), "[Main]\r\nNTPServer=" + string(kDefaultEntry) + "\r\nDelay=3\r\n");
    app.settings.ConnectionType = "LAN";
    SaveSettings(app);
    EXPECT_EQ(DiskText(), IniFixture("first_configuration.ini"));
    LoadSettings(app);
    EXPECT_EQ(app.settings.ConnectionType, "LAN");
    EXPECT_EQ(app.settings.Tolerance, 30);
}

TEST_F(SettingsOnDiskTest, FolderThatIsNotThereLeavesTheDefaults)
{
    t.env.programFolder = folder + "/missing";
    LoadSettings(app);
    SaveSettings(app);
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
    EXPECT_EQ(app.settings.NTPServer, kDefaultEntry);
    EXPECT_EQ(app.settings.DelaySeconds, 3);
    EXPECT_EQ(app.settings.Tolerance, 30);
}

// A file in an encoding the program cannot read gets a warning that names
// it; the run goes on with what could be read (here nothing: the defaults).
TEST_F(SettingsOnDiskTest, AFileInAnEncodingItCannotReadLeavesAWarningThatNamesIt)
{
    string utf16be = "\xFE\xFF";
    for (const char c : string("[Main]\r\nNTPServer=time.example\r\nQuietMode=Y\r\n"))
        utf16be += string{'\0', c};
    std::ofstream(folder + "/Veltrane.INI", std::ios::binary) << utf16be;
    LoadSettings(app);
    EXPECT_EQ(app.settingsWarning,
              "WARNING: the settings file " + SettingsFilePath(app) +
                  " is no text the program reads (UTF-16 big-endian): settings in it may go unread and take their "
                  "defaults; save it as UTF-8, or as UTF-16 LE (Notepad's \"Unicode\")");
    EXPECT_EQ(app.settings.NTPServer, kDefaultEntry);
    EXPECT_EQ(app.settings.QuietMode, "");
    std::ofstream(folder + "/Veltrane.INI", std::ios::binary) << "[Main]\r\nNTPServer=caf\xC3\xA9\r\n";
    LoadSettings(app);
    EXPECT_EQ(app.settingsWarning, "");
}

}  // namespace
}  // namespace vel
