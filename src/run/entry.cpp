#include "run/entry.h"

#include "log/log.h"
#include "run/run_sync.h"
#include "status/status_window.h"
#include "settings/config_dialog.h"
#include "settings/settings.h"

namespace vel {

bool WantsConfiguration(platform::Environment& environment)
{
    const StartOptions options = ReadStartOptions(environment.Process().arguments);
    // The machine's run goes on with the defaults where its file is missing:
    // nobody is there to answer a dialog.
    return options.configuration || (!options.machine && !environment.IsOrdinaryFile(SettingsFilePath(environment)));
}

bool WantsWindows(platform::Environment& environment, platform::ProfileFile& profile)
{
    if (WantsConfiguration(environment))
        return true;
    const StartOptions options = ReadStartOptions(environment.Process().arguments);
    if (options.machine || options.quiet)
        return false;
    return ReadIniValue(profile, SettingsFilePath(environment), kSettingsSection, "QuietMode").value != "Y";
}

namespace {

// One window run per folder: a later one asks the first to come to the front
// and ends, logging why, with its settings file untouched.
bool ClaimWindowRun(App& app)
{
    if (app.windowRuns == nullptr)
        return true;
    const std::string folder = app.platform.environment.ProgramFolder();
    const platform::ClaimResult claim = app.windowRuns->Claim(folder, [&app] { app.platform.windows.BringToFront(); });
    if (claim == platform::ClaimResult::Claimed)
        return true;
    const bool reached = claim == platform::ClaimResult::HolderBroughtToFront;
    OpenLog(app);
    WriteLog(app, reached ? "another window run of this folder is in progress: its window was brought to the front"
                          : "another window run of this folder is in progress: this start ends");
    return false;
}

}  // namespace

void StartChosen(App& app)
{
    app.flags.RunStarted = false;
    app.log.file.reset();

    platform::Environment& environment = app.platform.environment;
    app.options = ReadStartOptions(environment.Process().arguments);

    if (WantsConfiguration(environment)) {
        ShowConfigurationDialog(app);
        // A Yes to "run now" goes on as a normal start; anything else ends here.
        if (app.flags.UserCancelled)
            return;
    }

    // From here on the machine's settings are only read.
    app.machineRun = app.options.machine;
    LoadSettings(app);

    // Without a display a window run goes on as a quiet one (RunSync says why).
    const bool shown = !RunsQuiet(app) && app.windowsUnavailable.empty();
    if (shown && !ClaimWindowRun(app))
        return;

    // A run is chosen: its status window exists from here on, shown or not.
    StatusWindow& window = frmVEL(app);
    if (!shown) {
        // Nobody watches a window: the log goes to standard error as well
        // where that is kept (the journal, a file), not to a terminal.
        const platform::ErrorStream errors = environment.Process().standardError;
        app.log.toStandardError = errors == platform::ErrorStream::Journal || errors == platform::ErrorStream::Other;
        app.log.stampedOnStandardError = errors != platform::ErrorStream::Journal;
        app.log.journalPriorities = errors == platform::ErrorStream::Journal;
        RunSync(app);
        return;
    }
    app.startRun = RunSync;
    window.Show();
}

ExitStatus ProgramMain(App& app)
{
    StartChosen(app);
    // The process lives on while the status window is open or its run goes on
    // (a run whose window the user closed carries on without it).
    while (app.HasStatusWindow() && !app.runFinished && (app.flags.RunStarted || frmVEL(app).Form().IsVisible()))
        app.platform.pump.WaitForEvents(3600.0);
    return app.exitStatus;
}

}  // namespace vel
