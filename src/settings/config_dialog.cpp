#include "settings/config_dialog.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "app/app.h"
#include "common/text.h"
#include "connection/dun_library.h"
#include "settings/config_form.h"
#include "settings/settings.h"

namespace vel {

using platform::ControlKind;

namespace {

constexpr const char* kFrame = "fraHowToConnect";

platform::ControlSpec Editable(platform::ControlSpec combo)
{
    combo.editable = true;
    return combo;
}

}  // namespace

platform::FormSpec ConfigurationDialogSpec()
{
    using platform::MakeControl;
    platform::FormSpec spec;
    spec.name = "frmVELConfigure";
    spec.caption = "Veltrane Configuration";
    spec.clientWidth = 4920;
    spec.clientHeight = 5715;
    spec.controls = {
        MakeControl(ControlKind::Label, "lblNTPServer", "NTP Server to use:", 360, 240, 1455, 255, 4),
        // The list's servers, or the one the file names (typed by hand, or an
        // administrator's preset) in its edit field.
        Editable(MakeControl(ControlKind::ComboBox, "cboNTPServer", "", 360, 480, 4095, 315, 11)),
        MakeControl(ControlKind::Frame, kFrame, "How to Connect", 360, 1080, 4095, 2655, 6),
        MakeControl(ControlKind::OptionButton, "optLAN", "Only use &Local Area Network", 240, 360, 2415, 255, 0,
                    kFrame),
        MakeControl(ControlKind::OptionButton, "optModem", "Only use &Modem", 240, 720, 3255, 195, 1, kFrame),
        MakeControl(ControlKind::OptionButton, "optBoth", "Use LAN if a&vailable - if not, use Modem", 240, 1080, 3255,
                    255, 7, kFrame),
        MakeControl(ControlKind::Label, "lblConnectionToUse", "Dialup connection to use:", 240, 1560, 2175, 255, 8,
                    kFrame),
        MakeControl(ControlKind::ComboBox, "cboISPList", "", 480, 1920, 2895, 315, 2, kFrame),
        MakeControl(ControlKind::TextBox, "txtStartDelay", "0", 360, 3960, 375, 285, 10),
        MakeControl(ControlKind::Label, "lblStartDelay", "Seconds to wait before starting connection", 840, 3960, 3135,
                    255, 9),
        MakeControl(ControlKind::CheckBox, "chkQuietMode", "Run in quiet mode", 360, 4320, 4095, 195, 12),
        MakeControl(ControlKind::CheckBox, "chkOnlyIfConnected", "Run only if currently connected to internet", 360,
                    4560, 3975, 195, 13),
        MakeControl(ControlKind::Button, "cmdOK", "&OK", 1193, 5040, 975, 375, 3),
        MakeControl(ControlKind::Button, "cmdCancel", "&Cancel", 2513, 5040, 975, 375, 5),
    };
    return spec;
}

ConfigurationDialog::ConfigurationDialog(App& app)
    : app_(app), form_(app.platform.windows.CreateForm(ConfigurationDialogSpec()))
{
    form_->SetHandler(this);
    optLAN.OnClick([this] { OptLANClick(); });
    optModem.OnClick([this] { OptModemClick(); });
    optBoth.OnClick([this] { OptBothClick(); });
    // A yes/no key with a control in its row is a check box; a click goes
    // into the record at once, and Cancel does not undo it.
    for (const SettingKey& key : SettingKeys()) {
        if (key.kind != SettingKind::YesNo || key.control == nullptr)
            continue;
        CheckBox box(*form_, key.control);
        box.OnClick([this, &key, box] { app_.settings.*key.text = box.Value() ? "Y" : "N"; });
        yesNoBoxes_.emplace_back(&key, box);
    }
    cmdOK.OnClick([this] { CmdOKClick(); });
    cmdCancel.OnClick([this] { CmdCancelClick(); });
    txtStartDelay.OnKeyPress([](int& key) {
        // A character code beyond 16 bits is no digit.
        if (key < std::numeric_limits<std::int16_t>::min() || key > std::numeric_limits<std::int16_t>::max())
            key = 0;
        else
            key = NumericKeyFilter(static_cast<std::int16_t>(key));
    });
}

ConfigurationDialog::~ConfigurationDialog()
{
    form_->SetHandler(nullptr);
}

void ConfigurationDialog::ShowModal()
{
    Open();
    form_->ShowModal();
}

// Every opening rebuilds the dialog from the settings file.
void ConfigurationDialog::Open()
{
    app_.flags.UserCancelled = false;
    app_.flags.ConfigurePressed = false;
    ClosedWithoutSave = true;

    const std::string path = SettingsFilePath(app_);
    SettingsFileExisted = app_.platform.environment.IsOrdinaryFile(path);
    // Whether the file names a server of its own, before the loader puts in
    // the built-in one.
    const bool serverStored =
        !IsBlank(ReadIniValue(app_, path, kSettingsSection, SettingKeyOf(&Settings::NTPServer).name).value);
    // Creates the file with NTPServer and Delay when there was none.
    LoadSettings(app_);
    const Settings& settings = app_.settings;

    // The stored server, so that OK keeps what the user did not touch (its
    // entry selected when it is one of the list); none yet: the first entry.
    cboNTPServer.Clear();
    for (std::string_view server : kTimeServers)
        cboNTPServer.AddItem(std::string(server));
    if (serverStored)
        cboNTPServer.SetText(settings.NTPServer);
    else
        cboNTPServer.SetListIndex(0);

    // Compared exactly: "lan" or "Modem" select the fall-back option.
    if (settings.ConnectionType == "MODEM")
        OptModemClick();
    else if (settings.ConnectionType == "LAN")
        OptLANClick();
    else
        OptBothClick();

    cboISPList.Clear();
    std::int16_t count = 0;
    std::vector<std::string> entries;
    ListDialUpEntries(app_, count, entries);
    if (count > 0) {
        for (const auto& entry : entries)
            cboISPList.AddItem(entry);
        // The last entry whose name matches without regard to case (in any
        // script, as the system compares names); else the first.
        int selected = 0;
        for (int i = 0; i < cboISPList.ListCount(); ++i)
            if (app_.platform.dialUp.SameEntryNameIgnoringCase(cboISPList.List(i), settings.Connectoid))
                selected = i;
        cboISPList.SetListIndex(selected);
    } else {
        // Nothing to dial: only LAN can be chosen.
        OptLANClick();
        optModem.SetEnabled(false);
        optBoth.SetEnabled(false);
        cboISPList.SetEnabled(false);
    }

    txtStartDelay.SetText(settings.Delay);

    // Only the boxes change; the record keeps its values (a "y" stays "y").
    for (auto& [key, box] : yesNoBoxes_)
        box.SetValue(ReadsAsYes(*key, settings.*key->text));

    // The run shows a busy pointer.
    app_.platform.windows.SetPointer(platform::PointerShape::Default);
}

void ConfigurationDialog::OptLANClick()
{
    optLAN.SetValue(true);
    optModem.SetValue(false);
    optBoth.SetValue(false);
    cboISPList.SetEnabled(false);
}

void ConfigurationDialog::OptModemClick()
{
    optLAN.SetValue(false);
    optModem.SetValue(true);
    optBoth.SetValue(false);
    cboISPList.SetEnabled(true);
}

void ConfigurationDialog::OptBothClick()
{
    optLAN.SetValue(false);
    optModem.SetValue(false);
    optBoth.SetValue(true);
    cboISPList.SetEnabled(true);
}

void ConfigurationDialog::CmdOKClick()
{
    ClosedWithoutSave = false;
    Settings& settings = app_.settings;
    settings.NTPServer = cboNTPServer.Text();
    if (optLAN.Value()) {
        settings.ConnectionType = "LAN";
        settings.Connectoid.clear();
    } else {
        settings.ConnectionType = optModem.Value() ? "MODEM" : "BOTH";
        settings.Connectoid = cboISPList.Text();
    }
    // As typed: the next LoadSettings brings it into 3..60. DelaySeconds
    // keeps its value until then.
    settings.Delay = txtStartDelay.Text();
    if (!SaveSettings(app_)) {
        // Nothing to run with: say why, and ask no question.
        ClosedWithoutSave = true;
        app_.platform.windows.ShowMessageBox(kNotSavedText + app_.settingsSaveError, form_->Spec().caption,
                                             platform::MessageButtons::Ok, platform::MessageIcon::Critical);
    }
    form_->Close();
}

void ConfigurationDialog::CmdCancelClick()
{
    // Cancel at a first configuration removes the file the opening created,
    // so that the next start opens the configuration again.
    if (!SettingsFileExisted) {
        const std::string path = SettingsFilePath(app_);
        if (app_.platform.environment.IsOrdinaryFile(path))
            app_.platform.environment.RemoveFile(path);
    }
    form_->Close();
}

// OK, Cancel and the close box all end here; only after OK is there a question.
void ConfigurationDialog::OnClose()
{
    app_.flags.UserCancelled = true;
    if (!ClosedWithoutSave) {
        const auto answer = app_.platform.windows.ShowMessageBox(
            kRunNowQuestion, kRunNowTitle, platform::MessageButtons::YesNo, platform::MessageIcon::Question);
        if (answer == platform::MessageResult::Yes)
            app_.flags.UserCancelled = false;
    }
}

void ShowConfigurationDialog(App& app)
{
    ConfigurationDialog dialog(app);
    dialog.ShowModal();
}

}  // namespace vel
