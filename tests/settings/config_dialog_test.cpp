#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "common/controls.h"
#include "common/text.h"
#include "run/entry.h"
#include "status/status_window.h"
#include "settings/config_dialog.h"
#include "settings/config_form.h"
#include "settings/settings.h"
#include "support/entry_name_cases.h"
#include "support/test_app.h"

namespace vel {
namespace {

using platform::ControlKind;
using platform::HeadlessForm;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::MessageRecord;
using platform::MessageResult;
using test::TestApp;

const std::string kDialog = "frmVELConfigure";

std::string Entry(int index)
{
    return std::string(kTimeServers[static_cast<std::size_t>(index)]);
}

// A settings file as a save leaves it.
std::string SavedFile(const std::string& server, const std::string& delay, const std::string& type,
                      const std::string& connectoid, const std::string& quiet = "N", const std::string& only = "N")
{
    return "[Main]\r\nNTPServer=" + server + "\r\nDelay=" + delay + "\r\nConnectionType=" + type +
           "\r\nConnectoid=" + connectoid + "\r\nQuietMode=" + quiet + "\r\nOnlyIfConnected=" + only + "\r\n";
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ConfigDialog : public ::testing::Test {
protected:
    TestApp t;

    HeadlessForm* Dialog() const { return t.windows.FindForm(kDialog); }

    // Schedules what the user does in the open dialog, `delay` seconds from now.
    void User(double delay, std::function<void(HeadlessForm&)> action)
    {
        t.pump.After(delay, [this, action] {
            HeadlessForm* dialog = Dialog();
            ASSERT_NE(dialog, nullptr);
            ASSERT_TRUE(dialog->IsVisible());
            action(*dialog);
        });
    }

    // Looks at the open dialog, then closes it with its close box.
    void Inspect(std::function<void(HeadlessForm&)> check)
    {
        User(0.5, [check](HeadlessForm& d) {
            check(d);
            d.CloseBox();
        });
    }

    void AnswerRunNow(MessageResult answer)
    {
        t.windows.answerMessage = [answer](const MessageRecord& record) {
            return record.buttons == MessageButtons::YesNo ? answer : MessageResult::Ok;
        };
    }

    void Show() { ShowConfigurationDialog(t.app); }

    std::string File() { return t.env.files.count(t.SettingsPath()) ? t.SettingsText() : "<no file>"; }
};

// ---------------------------------------------------------------------------
// The window as data and the server list

TEST(ConfigDialogForm, DeclaresTheWindowAndEveryControlAtItsPlace)
{
    const platform::FormSpec spec = ConfigurationDialogSpec();
    EXPECT_EQ(spec.name, "frmVELConfigure");
    EXPECT_EQ(spec.caption, "Veltrane Configuration");
    EXPECT_EQ(spec.clientWidth, 4920);
    EXPECT_EQ(spec.clientHeight, 5715);

    struct Expected {
        ControlKind kind;
        const char* name;
        const char* caption;
        int left, top, width, height, tab;
        const char* parent;
    };
    const Expected expected[] = {
        {ControlKind::Label, "lblNTPServer", "NTP Server to use:", 360, 240, 1455, 255, 4, ""},
        {ControlKind::ComboBox, "cboNTPServer", "", 360, 480, 4095, 315, 11, ""},
        {ControlKind::Frame, "fraHowToConnect", "How to Connect", 360, 1080, 4095, 2655, 6, ""},
        {ControlKind::OptionButton, "optLAN", "Only use &Local Area Network", 240, 360, 2415, 255, 0,
         "fraHowToConnect"},
        {ControlKind::OptionButton, "optModem", "Only use &Modem", 240, 720, 3255, 195, 1, "fraHowToConnect"},
        {ControlKind::OptionButton, "optBoth", "Use LAN if a&vailable - if not, use Modem", 240, 1080, 3255, 255, 7,
         "fraHowToConnect"},
        {ControlKind::Label, "lblConnectionToUse", "Dialup connection to use:", 240, 1560, 2175, 255, 8,
         "fraHowToConnect"},
        {ControlKind::ComboBox, "cboISPList", "", 480, 1920, 2895, 315, 2, "fraHowToConnect"},
        {ControlKind::TextBox, "txtStartDelay", "0", 360, 3960, 375, 285, 10, ""},
        {ControlKind::Label, "lblStartDelay", "Seconds to wait before starting connection", 840, 3960, 3135, 255, 9,
         ""},
        {ControlKind::CheckBox, "chkQuietMode", "Run in quiet mode", 360, 4320, 4095, 195, 12, ""},
        {ControlKind::CheckBox, "chkOnlyIfConnected", "Run only if currently connected to internet", 360, 4560, 3975,
         195, 13, ""},
        {ControlKind::Button, "cmdOK", "&OK", 1193, 5040, 975, 375, 3, ""},
        {ControlKind::Button, "cmdCancel", "&Cancel", 2513, 5040, 975, 375, 5, ""},
    };
    ASSERT_EQ(spec.controls.size(), std::size(expected));
    std::set<int> tabs;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const platform::ControlSpec* c = FindControl(spec, e.name);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->kind, e.kind);
        EXPECT_EQ(c->caption, e.caption);
        EXPECT_EQ((std::vector<int>{c->left, c->top, c->width, c->height}),
                  (std::vector<int>{e.left, e.top, e.width, e.height}));
        EXPECT_EQ(c->tabIndex, e.tab);
        EXPECT_EQ(c->parent, e.parent);
        EXPECT_FALSE(c->isDefault);
        EXPECT_FALSE(c->isCancel);
        EXPECT_FALSE(c->multiLine);
        EXPECT_EQ(c->editable, std::string(e.name) == "cboNTPServer") << "only the server list takes a typed text";
        tabs.insert(c->tabIndex);
    }
    EXPECT_EQ(tabs.size(), std::size(expected)) << "tab indexes are form-wide and unique";
}

TEST(TimeServerList, FourteenNistEntriesInTheirOrder)
{
    const char* places[] = {
        "(NIST, Gaithersburg, MD)",
        "(NIST, Gaithersburg, MD)",
        "(NIST, Boulder, CO)",
        "(NIST, Boulder, CO)",
        "(NIST, Boulder, CO)",
        "(University of Colorado, Boulder)",
        "(NCAR, Boulder, CO)",
        "(Microsoft, Redmond, WA)",
        "(Datum, San Jose, CA)",
        "(Abovenet, VA)",
        "(Abovenet, New York City, NY)",
        "(Abovenet, San Jose, CA)",
        "(TrueTime, AOL, Sunnyvale, CA)",
        "(TrueTime, AOL, VA)",
    };
    ASSERT_EQ(kTimeServers.size(), std::size(places));
    std::set<std::string> hosts;
    for (std::size_t i = 0; i < kTimeServers.size(); ++i) {
        const std::string entry(kTimeServers[i]);
        SCOPED_TRACE(entry);
        // The time query connects to the text before the first blank.
        const std::size_t blank = entry.find(' ');
        ASSERT_NE(blank, std::string::npos);
        const std::string host = entry.substr(0, blank);
        EXPECT_EQ(entry.substr(blank + 1), places[i]);
        EXPECT_NE(host.find('.'), std::string::npos);
        EXPECT_EQ(host.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-"), std::string::npos);
        EXPECT_NE(host.front(), '.');
        EXPECT_NE(host.back(), '.');
        hosts.insert(host);
        EXPECT_NE(entry, kDefaultNTPServer);
    }
    EXPECT_EQ(hosts.size(), kTimeServers.size()) << "every entry names its own server";
}

// ---------------------------------------------------------------------------
// Opening

TEST_F(ConfigDialog, OpensModallyWithFlagsClearedAndTheNormalPointer)
{
    t.WriteSettings(SavedFile(Entry(0), "5", "LAN", ""));
    t.app.flags.UserCancelled = true;
    t.app.flags.ConfigurePressed = true;
    t.windows.SetPointer(platform::PointerShape::Busy);
    Inspect([this](HeadlessForm& d) {
        EXPECT_TRUE(d.IsModal());
        EXPECT_EQ(d.Title(), "Veltrane Configuration");
        EXPECT_FALSE(t.app.flags.UserCancelled);
        EXPECT_FALSE(t.app.flags.ConfigurePressed);
        EXPECT_EQ(t.windows.Pointer(), platform::PointerShape::Default);
    });
    Show();
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_TRUE(t.windows.messages.empty()) << "closing without OK asks nothing";
}

// The stored server shows in the edit field, its entry selected when it is
// one, and OK keeps it; a file that names none opens on the first entry.
TEST_F(ConfigDialog, OpensOnTheStoredServerAndOkKeepsIt)
{
    struct Case {
        std::string stored;  // the NTPServer line's value; "<none>": no such line
        int selected;
        std::string shown;
    } cases[] = {
        {"<none>", 0, Entry(0)},
        {"   ", 0, Entry(0)},
        {Entry(4), 4, Entry(4)},
        {Entry(13), 13, Entry(13)},
        {"my.own.server (by hand)", -1, "my.own.server (by hand)"},
        {kDefaultNTPServer, -1, kDefaultNTPServer},                          // an earlier first opening left it
        {"time-a-g.nist.gov", -1, "time-a-g.nist.gov"},                      // a host alone is no entry
        {"ntp:pool.ntp.org (the pool)", -1, "ntp:pool.ntp.org (the pool)"},  // a protocol named
        {"daytime:time-a-g.nist.gov", -1, "daytime:time-a-g.nist.gov"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        TestApp u;
        u.WriteSettings("[Main]\r\n" + (c.stored == "<none>" ? "" : "NTPServer=" + c.stored + "\r\n") + "Delay=5\r\n");
        u.pump.After(0.5, [&u, &c] {
            HeadlessForm* d = u.windows.FindForm(kDialog);
            ASSERT_NE(d, nullptr);
            ASSERT_EQ(d->ItemCount("cboNTPServer"), 14);
            for (int i = 0; i < 14; ++i)
                EXPECT_EQ(d->ItemText("cboNTPServer", i), Entry(i));
            EXPECT_EQ(d->SelectedIndex("cboNTPServer"), c.selected);
            EXPECT_EQ(d->Text("cboNTPServer"), c.shown);
            d->Click("cmdOK");
        });
        ShowConfigurationDialog(u.app);
        EXPECT_EQ(u.app.settings.NTPServer, c.shown);
        EXPECT_NE(u.SettingsText().find("NTPServer=" + c.shown + "\r\n"), std::string::npos) << u.SettingsText();
    }
}

TEST_F(ConfigDialog, PickedServerIsStoredWhole)
{
    t.WriteSettings(SavedFile(Entry(0), "5", "LAN", ""));
    User(0.5, [](HeadlessForm& d) {
        ASSERT_TRUE(d.Select("cboNTPServer", 12));
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(File(), SavedFile(Entry(12), "5", "LAN", ""));
}

TEST_F(ConfigDialog, ConnectionTypeSelectsItsOptionOnlyWhenExactlyMatched)
{
    struct Case {
        const char* stored;
        const char* option;
    };
    const Case cases[] = {
        {"MODEM", "optModem"}, {"LAN", "optLAN"},    {"BOTH", "optBoth"}, {"", "optBoth"},
        {"lan", "optBoth"},    {"Modem", "optBoth"}, {"LAN ", "optLAN"},  {"dial-up", "optBoth"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("ConnectionType=") + c.stored);
        TestApp u;
        u.dialUp.entries = {"Work"};
        // The INI reader trims values, so "LAN " is read as "LAN".
        u.WriteSettings(std::string("[Main]\r\nConnectionType=") + c.stored + "\r\n");
        u.pump.After(0.5, [&u, &c] {
            HeadlessForm* d = u.windows.FindForm(kDialog);
            ASSERT_NE(d, nullptr);
            for (const char* option : {"optLAN", "optModem", "optBoth"})
                EXPECT_EQ(d->IsChecked(option), std::string(option) == c.option) << option;
            EXPECT_EQ(d->IsEnabled("cboISPList"), std::string(c.option) != "optLAN");
            EXPECT_TRUE(d->IsEnabled("lblConnectionToUse"));
            d->CloseBox();
        });
        ShowConfigurationDialog(u.app);
        EXPECT_EQ(u.app.settings.ConnectionType, TrimBlanks(c.stored)) << "the record is left as read";
    }
}

TEST_F(ConfigDialog, WithoutDialUpEntriesOnlyLanCanBeChosen)
{
    t.WriteSettings(SavedFile(Entry(1), "5", "MODEM", "Work"));
    User(0.5, [](HeadlessForm& d) {
        EXPECT_TRUE(d.IsChecked("optLAN"));
        EXPECT_FALSE(d.IsChecked("optModem"));
        EXPECT_FALSE(d.IsChecked("optBoth"));
        EXPECT_FALSE(d.IsEnabled("optModem"));
        EXPECT_FALSE(d.IsEnabled("optBoth"));
        EXPECT_FALSE(d.IsEnabled("cboISPList"));
        EXPECT_TRUE(d.IsEnabled("lblConnectionToUse"));
        EXPECT_EQ(d.ItemCount("cboISPList"), 0);
        EXPECT_FALSE(d.Click("optModem"));
        EXPECT_FALSE(d.Click("optBoth"));
        EXPECT_TRUE(d.IsChecked("optLAN"));
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(File(), SavedFile(Entry(1), "5", "LAN", ""));
}

TEST_F(ConfigDialog, EntryListIsSortedAndSelectsTheStoredEntryWithoutRegardToCase)
{
    t.dialUp.entries = {"Work", "Home", "Office"};
    t.WriteSettings(SavedFile(Entry(0), "5", "MODEM", "oFFICE"));
    User(0.5, [](HeadlessForm& d) {
        ASSERT_EQ(d.ItemCount("cboISPList"), 3);
        EXPECT_EQ(d.ItemText("cboISPList", 0), "Home");
        EXPECT_EQ(d.ItemText("cboISPList", 1), "Office");
        EXPECT_EQ(d.ItemText("cboISPList", 2), "Work");
        EXPECT_EQ(d.SelectedIndex("cboISPList"), 1);
        EXPECT_TRUE(d.IsEnabled("optModem"));
        EXPECT_TRUE(d.IsEnabled("optBoth"));
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(t.app.settings.Connectoid, "Office") << "the list's spelling is stored";
}

TEST_F(ConfigDialog, OfTwoEntriesDifferingOnlyInCaseTheLaterIsSelected)
{
    t.dialUp.entries = {"myisp", "Other", "MyISP"};  // sorted: MyISP, Other, myisp
    t.WriteSettings(SavedFile(Entry(0), "5", "BOTH", "MYisp"));
    User(0.5, [](HeadlessForm& d) {
        EXPECT_EQ(d.ItemText("cboISPList", 0), "MyISP");
        EXPECT_EQ(d.ItemText("cboISPList", 2), "myisp");
        EXPECT_EQ(d.SelectedIndex("cboISPList"), 2);
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(File(), SavedFile(Entry(0), "5", "BOTH", "myisp"));
}

// Which names match is the system's word (the fake answers as this build's
// system does); OK keeps the entry the user had.
TEST_F(ConfigDialog, TheStoredEntryMatchesWithoutCaseInAnyScript)
{
    for (const test::EntryNameCase& c : test::kEntryNameCases) {
        TestApp u;
        u.dialUp.entries = {c.b, "0 first"};
        u.WriteSettings(SavedFile(Entry(0), "5", "MODEM", c.a));
        u.pump.After(0.5, [&u] { u.windows.FindForm(kDialog)->Click("cmdOK"); });
        ShowConfigurationDialog(u.app);
        EXPECT_EQ(u.app.settings.Connectoid, (test::kWindows ? c.onWindows : c.onLinux) ? c.b : "0 first") << c.a;
    }
}

TEST_F(ConfigDialog, UnknownOrEmptyConnectoidSelectsTheFirstEntryAndOkStoresIt)
{
    struct Case {
        const char* stored;
        const char* option;  // what the user picks before OK
        const char* type;    // what OK stores
    };
    const Case cases[] = {
        {"Gone", "optModem", "MODEM"},
        {"", "optModem", "MODEM"},
        {"Gone", "optBoth", "BOTH"},
        {"", "optBoth", "BOTH"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " " + c.option);
        TestApp u;
        u.dialUp.entries = {"Work", "Home"};
        u.WriteSettings(SavedFile(Entry(0), "5", "LAN", c.stored));
        u.pump.After(0.5, [&u, &c] {
            HeadlessForm* d = u.windows.FindForm(kDialog);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->SelectedIndex("cboISPList"), 0);
            EXPECT_FALSE(d->IsEnabled("cboISPList")) << "LAN stored";
            ASSERT_TRUE(d->Click(c.option));
            EXPECT_TRUE(d->IsEnabled("cboISPList"));
            d->Click("cmdOK");
        });
        ShowConfigurationDialog(u.app);
        EXPECT_EQ(u.SettingsText(), SavedFile(Entry(0), "5", c.type, "Home"));
    }
}

TEST_F(ConfigDialog, OptionClicksSwitchTheEntryListAndLanStoresNoEntry)
{
    t.dialUp.entries = {"Home", "Work"};
    t.WriteSettings(SavedFile(Entry(0), "5", "BOTH", "Work"));
    User(0.5, [](HeadlessForm& d) {
        EXPECT_TRUE(d.IsEnabled("cboISPList"));
        d.Click("optLAN");
        EXPECT_TRUE(d.IsChecked("optLAN"));
        EXPECT_FALSE(d.IsChecked("optBoth"));
        EXPECT_FALSE(d.IsEnabled("cboISPList"));
        d.Click("optModem");
        EXPECT_TRUE(d.IsChecked("optModem"));
        EXPECT_FALSE(d.IsChecked("optLAN"));
        EXPECT_TRUE(d.IsEnabled("cboISPList"));
        d.Click("optBoth");
        EXPECT_TRUE(d.IsChecked("optBoth"));
        EXPECT_FALSE(d.IsChecked("optModem"));
        EXPECT_TRUE(d.IsEnabled("cboISPList"));
        EXPECT_TRUE(d.IsEnabled("lblConnectionToUse"));
        d.Click("optLAN");
        EXPECT_EQ(d.Text("cboISPList"), "Work") << "the entry stays selected";
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(File(), SavedFile(Entry(0), "5", "LAN", ""));
}

// Every key the dialog shows names a control the window declares; a yes/no
// key's is a check box, which is all such a key needs to be in the dialog.
TEST(ConfigDialogForm, EachShownKeyNamesADeclaredControl)
{
    const platform::FormSpec spec = ConfigurationDialogSpec();
    int boxes = 0;
    for (const SettingKey& key : SettingKeys()) {
        if (key.control == nullptr)
            continue;
        SCOPED_TRACE(key.name);
        const platform::ControlSpec* control = FindControl(spec, key.control);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind == ControlKind::CheckBox, key.kind == SettingKind::YesNo);
        boxes += control->kind == ControlKind::CheckBox;
    }
    EXPECT_EQ(boxes, std::count_if(spec.controls.begin(), spec.controls.end(),
                                   [](const platform::ControlSpec& c) { return c.kind == ControlKind::CheckBox; }))
        << "every check box is a key's";
}

TEST_F(ConfigDialog, DelayBoxAndCheckBoxesShowTheRecordAsLoaded)
{
    // 500 is clamped by the load; 10.4 is within range and stays as typed.
    for (const auto& [stored, shown] : {std::pair{"500", "60"}, std::pair{"10.4", "10.4"}, std::pair{"", "3"}}) {
        SCOPED_TRACE(stored);
        TestApp u;
        u.WriteSettings(std::string("[Main]\r\nDelay=") + stored + "\r\nQuietMode=y\r\nOnlyIfConnected=Y\r\n");
        u.pump.After(0.5, [&u, shown = std::string(shown)] {
            HeadlessForm* d = u.windows.FindForm(kDialog);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->Text("txtStartDelay"), shown);
            EXPECT_FALSE(d->IsChecked("chkQuietMode")) << "only an upper-case Y ticks";
            EXPECT_TRUE(d->IsChecked("chkOnlyIfConnected"));
            d->CloseBox();
        });
        ShowConfigurationDialog(u.app);
        EXPECT_EQ(u.app.settings.QuietMode, "y") << "opening leaves the record as it is";
        EXPECT_EQ(u.app.settings.OnlyIfConnected, "Y");
    }
}

TEST_F(ConfigDialog, OpeningReloadsTheFileOverTheRecord)
{
    t.dialUp.entries = {"Home", "Work"};
    t.WriteSettings(SavedFile(Entry(0), "7", "MODEM", "Work", "Y"));
    t.app.settings.ConnectionType = "LAN";
    t.app.settings.Connectoid = "Home";
    t.app.settings.Delay = "30";
    t.app.settings.QuietMode = "N";
    Inspect([](HeadlessForm& d) {
        EXPECT_TRUE(d.IsChecked("optModem"));
        EXPECT_EQ(d.Text("cboISPList"), "Work");
        EXPECT_EQ(d.Text("txtStartDelay"), "7");
        EXPECT_TRUE(d.IsChecked("chkQuietMode"));
    });
    Show();
    EXPECT_EQ(t.app.settings.DelaySeconds, 7);
}

// ---------------------------------------------------------------------------
// The start delay box

TEST_F(ConfigDialog, KeyFilterSwallowsTypedLettersButAPasteIsKept)
{
    t.WriteSettings(SavedFile(Entry(0), "10", "LAN", ""));
    User(0.5, [](HeadlessForm& d) {
        d.PressBackspace("txtStartDelay");
        d.PressBackspace("txtStartDelay");
        EXPECT_EQ(d.Text("txtStartDelay"), "");
        d.Type("txtStartDelay", "-1a.5 x+7");
        EXPECT_EQ(d.Text("txtStartDelay"), "-1.57");
        d.PressBackspace("txtStartDelay");
        EXPECT_EQ(d.Text("txtStartDelay"), "-1.5");
        d.Paste("txtStartDelay", "abc");
        EXPECT_EQ(d.Text("txtStartDelay"), "-1.5abc");
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(t.app.settings.Delay, "-1.5abc");
    EXPECT_NE(t.SettingsText().find("\r\nDelay=-1.5abc\r\n"), std::string::npos);
    LoadSettings(t.app);
    EXPECT_EQ(t.app.settings.DelaySeconds, 3);
    EXPECT_NE(t.SettingsText().find("\r\nDelay=3\r\n"), std::string::npos);
}

TEST_F(ConfigDialog, PastedLineBreakCannotAddKeysToTheFile)
{
    t.WriteSettings(SavedFile(Entry(0), "10", "LAN", ""));
    User(0.5, [](HeadlessForm& d) {
        d.Paste("txtStartDelay", "5\r\nQuietMode=Y\r\n[Other]");
        d.Click("cmdOK");
    });
    Show();
    EXPECT_EQ(File(), SavedFile(Entry(0), "105", "LAN", ""));
}

TEST_F(ConfigDialog, DelayIsStoredAsTypedAndTheNextLoadClampsIt)
{
    for (const auto& [typed, loaded] : {std::pair{"100", "60"}, std::pair{"", "3"}}) {
        SCOPED_TRACE(typed);
        TestApp u;
        u.WriteSettings(SavedFile(Entry(0), "10", "LAN", ""));
        u.pump.After(0.5, [&u, typed = std::string(typed)] {
            HeadlessForm* d = u.windows.FindForm(kDialog);
            ASSERT_NE(d, nullptr);
            d->PressBackspace("txtStartDelay");
            d->PressBackspace("txtStartDelay");
            d->Type("txtStartDelay", typed);
            d->Click("cmdOK");
        });
        ShowConfigurationDialog(u.app);
        EXPECT_EQ(u.SettingsText(), SavedFile(Entry(0), typed, "LAN", ""));
        EXPECT_EQ(u.app.settings.DelaySeconds, 10) << "unchanged until the next load";
        LoadSettings(u.app);
        EXPECT_EQ(u.app.settings.Delay, loaded);
        EXPECT_EQ(u.SettingsText(), SavedFile(Entry(0), loaded, "LAN", ""));
    }
}

// ---------------------------------------------------------------------------
// Check boxes, Cancel and the close box

TEST_F(ConfigDialog, CheckBoxesStoreIntoTheRecordAtOnce)
{
    const std::string before = SavedFile(Entry(0), "5", "LAN", "");
    t.WriteSettings(before);
    User(0.5, [this, before](HeadlessForm& d) {
        d.Click("chkQuietMode");
        EXPECT_EQ(t.app.settings.QuietMode, "Y");
        d.Click("chkOnlyIfConnected");
        EXPECT_EQ(t.app.settings.OnlyIfConnected, "Y");
        d.Click("chkOnlyIfConnected");
        EXPECT_EQ(t.app.settings.OnlyIfConnected, "N");
        EXPECT_EQ(File(), before) << "nothing written before OK";
        d.Click("cmdCancel");
    });
    Show();
    EXPECT_EQ(File(), before);
    EXPECT_EQ(t.app.settings.QuietMode, "Y") << "Cancel does not undo a tick";
    EXPECT_EQ(t.app.settings.OnlyIfConnected, "N");
    // The status window's close saves the record.
    frmVEL(t.app).Close();
    EXPECT_EQ(File(), SavedFile(Entry(0), "5", "LAN", "", "Y", "N"));
}

TEST_F(ConfigDialog, CancelAtTheFirstConfigurationRemovesTheFileAgain)
{
    User(0.5, [this](HeadlessForm& d) {
        EXPECT_EQ(File(), "[Main]\r\nNTPServer=" + std::string(kDefaultNTPServer) + "\r\nDelay=3\r\n")
            << "the opening's load created it";
        d.Select("cboNTPServer", 3);
        d.Click("cmdCancel");
    });
    Show();
    EXPECT_EQ(File(), "<no file>");
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_TRUE(t.windows.messages.empty());

    // The next start opens the configuration again.
    User(0.5, [](HeadlessForm& d) { d.Click("cmdCancel"); });
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Ok);
    EXPECT_EQ(File(), "<no file>");
    EXPECT_FALSE(t.app.HasStatusWindow());
}

TEST_F(ConfigDialog, CancelKeepsAnExistingFileAsItWas)
{
    t.dialUp.entries = {"Home"};
    const std::string before = SavedFile(Entry(2), "5", "MODEM", "Home", "N", "Y");
    t.WriteSettings(before);
    User(0.5, [](HeadlessForm& d) {
        d.Select("cboNTPServer", 5);
        d.Click("optLAN");
        d.Type("txtStartDelay", "9");
        d.Click("cmdCancel");
    });
    Show();
    EXPECT_EQ(File(), before);
    EXPECT_TRUE(t.app.flags.UserCancelled);
}

TEST_F(ConfigDialog, CloseBoxNeitherSavesNorDeletes)
{
    // At a first configuration the file that the opening created stays.
    User(0.5, [](HeadlessForm& d) {
        d.Select("cboNTPServer", 3);
        d.Type("txtStartDelay", "0");
        d.CloseBox();
    });
    Show();
    const std::string created = "[Main]\r\nNTPServer=" + std::string(kDefaultNTPServer) + "\r\nDelay=3\r\n";
    EXPECT_EQ(File(), created);
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_TRUE(t.windows.messages.empty());

    // The next start runs with those values and the other keys empty.
    t.dialUp.SetLan();
    ProgramMain(t.app);
    ASSERT_NE(t.Window(), nullptr);
    EXPECT_TRUE(t.Window()->WasShown());
    EXPECT_TRUE(Contains(t.LogLines(), "starting connect to " + std::string(kDefaultNTPServer)));
    EXPECT_EQ(t.app.settings.ConnectionType, "");
}

// ---------------------------------------------------------------------------
// OK and the question to run now

TEST_F(ConfigDialog, FirstConfigurationWithOkWritesTheFileInKeyOrder)
{
    t.dialUp.entries = {"Work", "Home"};
    AnswerRunNow(MessageResult::No);
    User(0.5, [](HeadlessForm& d) { d.Click("cmdOK"); });
    Show();
    EXPECT_EQ(File(),
              "[Main]\r\n"
              "NTPServer=time-a-g.nist.gov (NIST, Gaithersburg, MD)\r\n"
              "Delay=3\r\n"
              "ConnectionType=BOTH\r\n"
              "Connectoid=Home\r\n"
              "QuietMode=N\r\n"
              "OnlyIfConnected=N\r\n");
}

TEST_F(ConfigDialog, OkAsksToRunNowAndTheAnswerDecidesUserCancelled)
{
    for (const MessageResult answer : {MessageResult::Yes, MessageResult::No}) {
        SCOPED_TRACE(answer == MessageResult::Yes ? "Yes" : "No");
        TestApp u;
        u.WriteSettings(SavedFile(Entry(0), "5", "LAN", ""));
        bool savedBeforeQuestion = false;
        u.windows.answerMessage = [&](const MessageRecord&) {
            savedBeforeQuestion = u.SettingsText() == SavedFile(Entry(7), "5", "LAN", "", "Y");
            EXPECT_TRUE(u.app.flags.UserCancelled);
            return answer;
        };
        u.pump.After(0.5, [&u] {
            HeadlessForm* d = u.windows.FindForm(kDialog);
            ASSERT_NE(d, nullptr);
            d->Select("cboNTPServer", 7);
            d->Click("chkQuietMode");
            d->Click("cmdOK");
        });
        ShowConfigurationDialog(u.app);
        ASSERT_EQ(u.windows.messages.size(), 1u);
        const MessageRecord& box = u.windows.messages[0];
        EXPECT_EQ(box.text, "Would you like to run Veltrane now?");
        EXPECT_EQ(box.title, "Run now");
        EXPECT_EQ(box.buttons, MessageButtons::YesNo);
        EXPECT_EQ(box.icon, MessageIcon::Question);
        EXPECT_TRUE(savedBeforeQuestion);
        EXPECT_EQ(u.app.flags.UserCancelled, answer == MessageResult::No);
        EXPECT_EQ(u.windows.FindForm(kDialog), nullptr) << "the dialog is gone";
    }
}

// A save that fails is never taken for success: the dialog says why, names
// the file, and does not offer to run.
TEST_F(ConfigDialog, OkWhoseSaveFailsSaysSoAndAsksNothing)
{
    t.WriteSettings(SavedFile(Entry(0), "5", "LAN", ""));
    AnswerRunNow(MessageResult::Yes);
    User(0.5, [this](HeadlessForm& d) {
        t.env.writable = false;  // the folder and the file went read-only meanwhile
        d.Select("cboNTPServer", 3);
        d.Click("cmdOK");
    });
    Show();
    ASSERT_EQ(t.windows.messages.size(), 1u);
    const MessageRecord& box = t.windows.messages[0];
    EXPECT_EQ(box.text, "The settings could not be saved: /app/Veltrane.INI: Permission denied (error 13)");
    EXPECT_EQ(box.title, "Veltrane Configuration");
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
    EXPECT_EQ(box.icon, MessageIcon::Critical);
    EXPECT_TRUE(t.app.flags.UserCancelled) << "no run on settings that were not saved";
    EXPECT_EQ(t.windows.FindForm(kDialog), nullptr) << "the dialog is gone";
    EXPECT_EQ(File(), SavedFile(Entry(0), "5", "LAN", ""));

    // A folder where the file should be: the reason says so.
    TestApp u;
    u.env.folders.insert(u.SettingsPath());
    u.env.commandLine = "config";
    u.windows.answerMessage = [](const MessageRecord&) { return MessageResult::Yes; };
    u.pump.After(0.5, [&u] { u.windows.FindForm(kDialog)->Click("cmdOK"); });
    EXPECT_EQ(ProgramMain(u.app), ExitStatus::Ok);
    ASSERT_EQ(u.windows.messages.size(), 1u);
    EXPECT_EQ(u.windows.messages[0].text,
              "The settings could not be saved: /app/Veltrane.INI: Is a directory (error 21)");
    EXPECT_FALSE(u.app.HasStatusWindow()) << "no run started";
}

// ---------------------------------------------------------------------------
// The dialog at start-up and during a run

TEST_F(ConfigDialog, YesAtStartUpGoesOnWithTheRun)
{
    t.env.commandLine = "Config";
    t.WriteSettings(SavedFile(Entry(0), "4", "LAN", ""));
    t.dialUp.SetLan();
    AnswerRunNow(MessageResult::Yes);
    User(0.5, [](HeadlessForm& d) {
        d.Select("cboNTPServer", 5);
        d.Click("cmdOK");
    });
    ProgramMain(t.app);
    ASSERT_NE(t.Window(), nullptr);
    EXPECT_TRUE(t.Window()->WasShown());
    const auto log = t.LogLines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0], "*** VEL started ***");
    EXPECT_TRUE(Contains(log, "starting connect to " + Entry(5)));
    EXPECT_FALSE(Contains(log, "ERROR: user cancelled before connect started"));
}

TEST_F(ConfigDialog, YesAtStartUpWithQuietModeRunsWithoutAWindow)
{
    t.dialUp.SetLan();
    AnswerRunNow(MessageResult::Yes);
    User(0.5, [](HeadlessForm& d) {
        d.Click("chkQuietMode");
        d.Click("cmdOK");
    });
    ProgramMain(t.app);
    ASSERT_TRUE(t.app.runFinished);
    ASSERT_NE(t.Window(), nullptr);
    EXPECT_FALSE(t.Window()->WasShown());
    const auto log = t.LogLines();
    EXPECT_TRUE(Contains(log, "started in quiet mode"));
    EXPECT_TRUE(Contains(log, "starting connect to " + Entry(0)));
}

TEST_F(ConfigDialog, NoAtStartUpEndsTheProgramWithTheSettingsSaved)
{
    AnswerRunNow(MessageResult::No);
    User(0.5, [](HeadlessForm& d) {
        d.Select("cboNTPServer", 2);
        d.Click("cmdOK");
    });
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Ok);
    EXPECT_FALSE(t.app.HasStatusWindow());
    EXPECT_EQ(t.env.files.count(t.LogPath()), 0u) << "no run, no log";
    EXPECT_EQ(File(), SavedFile(Entry(2), "3", "LAN", ""));
}

class ConfigureDuringStartDelay : public ConfigDialog {
protected:
    void SetUp() override
    {
        t.WriteSettings(SavedFile(Entry(0), "5", "LAN", ""));
        t.dialUp.SetLan();
        // Configure in the second second of the start delay: the dialog opens
        // when that second is over.
        t.pump.After(1.5, [this] {
            ASSERT_NE(t.Window(), nullptr);
            ASSERT_TRUE(t.Window()->Click("cmdConfigure"));
        });
    }
};

TEST_F(ConfigureDuringStartDelay, YesGoesOnWithoutAFurtherStartDelay)
{
    bool checked = false;
    t.windows.answerMessage = [this, &checked](const MessageRecord&) {
        // Just after the dialog has closed the run is past its start delay.
        t.pump.After(0.5, [this, &checked] {
            HeadlessForm* w = t.Window();
            EXPECT_FALSE(w->IsEnabled("cmdConfigure"));
            EXPECT_FALSE(w->IsEnabled("cmdGo"));
            EXPECT_NE(w->Text("txtStatus").rfind("Connection will initiate in ", 0), 0u) << w->Text("txtStatus");
            checked = true;
        });
        return MessageResult::Yes;
    };
    User(3.0, [](HeadlessForm& d) {
        d.Select("cboNTPServer", 9);
        d.Click("cmdOK");
    });
    ProgramMain(t.app);
    EXPECT_TRUE(checked);
    const auto log = t.LogLines();
    EXPECT_FALSE(Contains(log, "ERROR: user cancelled before connect started"));
    EXPECT_TRUE(Contains(log, "starting connect to " + Entry(9))) << "the run uses the settings the dialog left";
}

TEST_F(ConfigureDuringStartDelay, CancelStopsTheRunAndTheWindowSavesTheRecord)
{
    User(3.0, [](HeadlessForm& d) {
        d.Click("chkQuietMode");
        d.Select("cboNTPServer", 9);
        d.Click("cmdCancel");
    });
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Cancelled);
    EXPECT_EQ(t.LogLines(),
              (std::vector<std::string>{"*** VEL started ***", "ERROR: user cancelled before connect started"}));
    EXPECT_TRUE(t.windows.messages.empty());
    // The tick went into the record; the server pick was cancelled.
    EXPECT_EQ(File(), SavedFile(Entry(0), "5", "LAN", "", "Y"));
}

TEST_F(ConfigureDuringStartDelay, OkAnsweredNoSavesAndStopsTheRun)
{
    AnswerRunNow(MessageResult::No);
    User(3.0, [](HeadlessForm& d) {
        d.Select("cboNTPServer", 9);
        d.Click("cmdOK");
    });
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Cancelled);
    EXPECT_EQ(t.LogLines(),
              (std::vector<std::string>{"*** VEL started ***", "ERROR: user cancelled before connect started"}));
    EXPECT_EQ(t.windows.messages.size(), 1u);
    EXPECT_EQ(File(), SavedFile(Entry(9), "5", "LAN", ""));
}

}  // namespace
}  // namespace vel
