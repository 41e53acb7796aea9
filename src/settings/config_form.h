// frmVELConfigure as data, and the dialog's event handling.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "common/controls.h"
#include "platform/window_system.h"

namespace vel {

class App;

// The time-server list of the dialog, in its order: each entry is a host name,
// a blank and the operator and place in parentheses. All are NIST Internet
// Time Service servers answering on the Daytime port (13). The settings
// file's built-in default server is not among them.
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

public:
    ComboBox cboNTPServer{*form_, "cboNTPServer"};
    OptionButton optLAN{*form_, "optLAN"};
    OptionButton optModem{*form_, "optModem"};
    OptionButton optBoth{*form_, "optBoth"};
    ComboBox cboISPList{*form_, "cboISPList"};
    TextBox txtStartDelay{*form_, "txtStartDelay"};
    CheckBox chkQuietMode{*form_, "chkQuietMode"};
    CheckBox chkOnlyIfConnected{*form_, "chkOnlyIfConnected"};
    Button cmdOK{*form_, "cmdOK"};
    Button cmdCancel{*form_, "cmdCancel"};
};

}  // namespace vel
