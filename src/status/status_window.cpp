#include "status/status_window.h"

#include "about/about_dialog.h"
#include "app/app.h"
#include "log/log.h"
#include "settings/settings.h"

namespace vel {

using platform::ControlKind;

platform::FormSpec StatusWindowSpec()
{
    platform::FormSpec spec;
    spec.name = "frmVEL";
    spec.caption = "Veltrane";
    spec.clientWidth = 5490;
    spec.clientHeight = 2355;
    spec.controls = {
        platform::MakeControl(ControlKind::Label, "lblStatus", "Status:", 240, 240, 615, 255, 3),
        platform::MakeControl(ControlKind::Label, "lblClockStatus", "", 840, 240, 4215, 495, 5),
        platform::MakeControl(ControlKind::TextBox, "txtStatus", "", 240, 720, 4935, 735, 4),
        platform::MakeControl(ControlKind::Button, "cmdGo", "&Go", 240, 1680, 975, 375, 6),
        platform::MakeControl(ControlKind::Button, "cmdConfigure", "C&onfigure", 1560, 1680, 975, 375, 1),
        platform::MakeControl(ControlKind::Button, "cmdAbout", "&About", 2880, 1680, 975, 375, 2),
        platform::MakeControl(ControlKind::Button, "cmdCancel", "&Cancel", 4200, 1680, 975, 375, 0),
    };
    spec.controls[2].multiLine = true;  // txtStatus: words wrap
    return spec;
}

StatusWindow& frmVEL(App& app)
{
    if (!app.statusWindow)
        app.statusWindow = std::make_unique<StatusWindow>(app);
    return static_cast<StatusWindow&>(*app.statusWindow);
}

StatusWindow::StatusWindow(App& app) : app_(app), form_(app.platform.windows.CreateForm(StatusWindowSpec()))
{
    form_->SetHandler(this);
    // The buttons only set the run's flags (or open the About box); the run
    // and its waits read them.
    cmdGo.OnClick([this] {
        app_.flags.GoPressed = true;
        cmdGo.SetEnabled(false);
    });
    cmdCancel.OnClick([this] { app_.flags.UserCancelled = true; });  // Cancel or Quit alike
    cmdConfigure.OnClick([this] {
        app_.flags.UserCancelled = true;
        app_.flags.ConfigurePressed = true;
    });
    cmdAbout.OnClick([this] { ShowAboutDialog(app_); });
}

StatusWindow::~StatusWindow()
{
    form_->SetHandler(nullptr);
}

void StatusWindow::Show()
{
    form_->Show();
}

void StatusWindow::Close()
{
    form_->Close();
}

void StatusWindow::OnActivate()
{
    if (app_.flags.RunStarted)
        return;
    app_.flags.RunStarted = true;
    // The run waits and dispatches events for many seconds: start it from the
    // event queue, not inside the window system's activation handling.
    App& app = app_;
    app_.platform.pump.Post([&app] {
        if (app.startRun)
            app.startRun(app);
    });
}

void StatusWindow::OnClose()
{
    app_.flags.UserCancelled = true;
    // The run may go on without its window: a later start then shows its
    // own, rather than call a window to the front that is gone.
    if (app_.windowRuns != nullptr)
        app_.windowRuns->Release();
    // The machine's settings are the administrator's: its run never writes them.
    if (app_.machineRun)
        return;
    // A run's log is still open when its window closes: a save that failed
    // is said there, never taken for success.
    if (!SaveSettings(app_) && app_.log.file)
        WriteLog(app_, kSettingsNotSavedLogText + app_.settingsSaveError);
}

}  // namespace vel
