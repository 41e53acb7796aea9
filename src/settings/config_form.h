// frmVELConfigure as data, and the dialog's event handling.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings_record.h"
#include "common/controls.h"
#include "platform/window_system.h"

namespace vel {

class App;

// The time-server list of the dialog, in its order: each entry is a host name,
// a blank and the operator and place in parentheses. The texts are the
// list's since its first version; the hosts, checked 2026-12-08 against NIST's
// "NIST Internet Time Servers" (https://tf.nist.gov/tf-cgi/servers.cgi),
// which lists time-a..e-g.nist.gov (Gaithersburg), time-a..e-b.nist.gov
// (Boulder), time-a..e-wwv.nist.gov (Fort Collins), utcnist, utcnist2 and
// utcnist3.colorado.edu, and time.nist.gov for all of them, each answering
// Daytime on TCP 13 as well as NTP:
// - 1 to 6: NIST's and the University of Colorado's servers of those names.
// - 7: NCAR no longer hosts a NIST server; time.nist.gov, once NCAR's host,
//   is now NIST's name for all of its servers (Boulder among them).
// - 8 to 14: their operators stopped serving NIST's time, and NIST has no
//   server left at those places (Redmond, San Jose, Virginia, New York City,
//   Sunnyvale): the hosts stay as they were, and a run asks time.nist.gov
//   instead, with a WARNING that names both (timesource/time_servers).
// The settings file's built-in default server is not among them.
inline constexpr std::array<std::string_view, 14> kTimeServers = {
    "time-a-g.nist.gov (NIST, Gaithersburg, MD)",
    "time-b-g.nist.gov (NIST, Gaithersburg, MD)",
    "time-a-b.nist.gov (NIST, Boulder, CO)",
    "time-b-b.nist.gov (NIST, Boulder, CO)",
    "time-c-b.nist.gov (NIST, Boulder, CO)",
    "utcnist.colorado.edu (University of Colorado, Boulder)",
    "time.nist.gov (NCAR, Boulder, CO)",
    "time-nw.nist.gov (Microsoft, Redmond, WA)",
    "nist1.datum.com (Datum, San Jose, CA)",
    "nist1.dc.glassey.com (Abovenet, VA)",
    "nist1.ny.glassey.com (Abovenet, New York City, NY)",
    "nist1.sj.glassey.com (Abovenet, San Jose, CA)",
    "nist1.aol-ca.truetime.com (TrueTime, AOL, Sunnyvale, CA)",
    "nist1.aol-va.truetime.com (TrueTime, AOL, VA)",
};

inline constexpr const char* kRunNowQuestion = "Would you like to run Veltrane now?";
inline constexpr const char* kRunNowTitle = "Run now";
// A save that failed: this, then the file and the reason.
inline constexpr const char* kNotSavedText = "The settings could not be saved: ";

// The window: caption, client size and every control in twips. Controls of
// fraHowToConnect are placed relative to it. The server list also takes a
// typed server; the dial-up list is pick-only. Neither button is the default
// or the cancel button.
platform::FormSpec ConfigurationDialogSpec();

class ConfigurationDialog : public platform::FormEvents {
public:
    explicit ConfigurationDialog(App& app);
    ~ConfigurationDialog() override;
    ConfigurationDialog(const ConfigurationDialog&) = delete;
    ConfigurationDialog& operator=(const ConfigurationDialog&) = delete;

    platform::Form& Form() { return *form_; }

    // Fills the dialog from the settings file, shows it modally and returns
    // when it has closed.
    void ShowModal();

    void OnClose() override;

private:
    void Open();
    void OptLANClick();
    void OptModemClick();
    void OptBothClick();
    void CmdOKClick();
    void CmdCancelClick();

    App& app_;
    std::unique_ptr<platform::Form> form_;

    // Whether an ordinary settings file was there when the dialog opened.
    bool SettingsFileExisted = false;
    // Set when the dialog opens, cleared by OK: while set, closing asks nothing.
    bool ClosedWithoutSave = true;
    // The check box of each yes/no key whose row names one, in the table's order.
    std::vector<std::pair<const SettingKey*, CheckBox>> yesNoBoxes_;

public:
    ComboBox cboNTPServer{*form_, "cboNTPServer"};
    OptionButton optLAN{*form_, "optLAN"};
    OptionButton optModem{*form_, "optModem"};
    OptionButton optBoth{*form_, "optBoth"};
    ComboBox cboISPList{*form_, "cboISPList"};
    TextBox txtStartDelay{*form_, "txtStartDelay"};
    Button cmdOK{*form_, "cmdOK"};
    Button cmdCancel{*form_, "cmdCancel"};
};

}  // namespace vel
