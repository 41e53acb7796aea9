#include "run/run_sync.h"

#include <cstdio>

#include "app/app.h"
#include "connection/connection_strategy.h"
#include "connection/dun_library.h"
#include "log/log.h"
#include "status/countdown.h"
#include "status/status_window.h"
#include "settings/config_dialog.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_answer.h"
#include "timesource/daytime_client.h"
#include "timesource/time_query.h"

namespace vel {

namespace {

void CancelledBeforeConnect(App& app)
{
    WriteLog(app, "ERROR: user cancelled before connect started");
    app.exitStatus = ExitStatus::Cancelled;
}

// Everything from the log's opening to the hang-up; returns early on the
// run's three early exits.
void RunSteps(App& app)
{
    OpenLog(app);
    if (!app.settingsWarning.empty())
        WriteLog(app, app.settingsWarning);
    app.platform.windows.SetPointer(platform::PointerShape::Busy);
    StatusWindow& window = frmVEL(app);
    const Settings& settings = app.settings;

    if (RunsQuiet(app)) {
        WriteLog(app, "started in quiet mode");
    } else if (!app.windowsUnavailable.empty()) {
        // Nobody could press a button: no start delay.
        WriteLog(app, "WARNING: running without windows, as in quiet mode: " + app.windowsUnavailable);
    } else {
        ShowCountdown(app, "Waiting to start connection", "Connection will initiate in ", settings.DelaySeconds,
                      " secs.  To cancel out of program, click CANCEL.  To connect now, click GO.", "&Cancel");
    }

    if (app.flags.UserCancelled && !app.flags.GoPressed && !app.flags.ConfigurePressed) {
        CancelledBeforeConnect(app);
        return;
    }

    window.txtStatus.SetText("");
    window.txtStatus.Refresh();

    if (app.flags.ConfigurePressed) {
        ShowConfigurationDialog(app);
        if (app.flags.UserCancelled) {
            CancelledBeforeConnect(app);
            return;
        }
    }

    window.cmdConfigure.SetEnabled(false);
    window.cmdGo.SetEnabled(false);

    ShowCountdown(app, "", "Connecting to internet... ", 0, "", "&Cancel");
    app.connectStepReached = true;  // from here on the run may dial
    const bool connected = ConnectToInternet(app);

    if (SaysYes<&Settings::OnlyIfConnected>(settings) && !IsInternetConnected(app)) {
        WriteLog(app, "no current internet connection found");
        app.exitStatus = ExitStatus::NotConnected;
        return;
    }
    if (!connected)
        WriteLog(app, "WARNING: Connection to internet may have failed");

    // The settings file's text, escaped as the server's is.
    WriteLog(app, "starting connect to " + PrintableAnswer(settings.NTPServer));
    window.txtStatus.SetText("Getting current time from " + settings.NTPServer);

    if (GetServerTime(app)) {
        CompareAndCorrect(app);
    } else {
        // A Cancel (or the window's close) while the server was asked: the
        // exit countdown clears the flag.
        const bool cancelled = app.flags.UserCancelled;
        ShowCountdown(app, "Could not get current time! See .LOG file for details", "Program will exit in ",
                      settings.DelaySeconds, " secs.  To exit immediately, click QUIT.", "&Quit");
        const std::string error = "ERROR: " + app.query.TimeError;
        WriteLog(app, error);
        app.exitStatus = cancelled ? ExitStatus::Cancelled : ExitStatus::NoTime;
        if (app.options.debug) {
            // The text goes to standard error as well; a window system that
            // shows no box (nobody could see it) puts it there itself.
            if (app.platform.windows.interactive) {
                std::fprintf(stderr, "%s\n", error.c_str());
                std::fflush(stderr);
            }
            app.platform.windows.ShowMessageBox(error, "Veltrane", platform::MessageButtons::Ok,
                                                platform::MessageIcon::None);
        }
    }

    // Hang up a dial-up line that this run brought up.
    if (IsModemConnection(app) && !app.AlreadyConnected) {
        window.cmdCancel.SetEnabled(false);
        ShowCountdown(app, "", "Disconnecting from internet....", 0, "", "");
        HangUpConnection(app, GetDefaultConnectoid(app));
    }
}

}  // namespace

bool RunsQuiet(const App& app)
{
    return SaysYes<&Settings::QuietMode>(app.settings) || app.options.quiet || app.machineRun;
}

void RunSync(App& app)
{
    RunSteps(app);
    // The window's close handling saves the settings, shown or not.
    frmVEL(app).Close();
    app.runFinished = true;
}

}  // namespace vel
