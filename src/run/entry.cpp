#include "run/entry.h"

#include "log/log.h"
#include "run/history.h"
#include "run/machine_record.h"
#include "run/run_report.h"
#include "run/run_sync.h"
#include "status/status_window.h"
#include "settings/config_dialog.h"
#include "settings/settings.h"

namespace vel {

bool WantsConfiguration(platform::Environment& environment)
{
    const StartOptions options = ReadStartOptions(environment.Process().arguments);
    if (options.openLog || options.history)
        return false;
    // The machine's run goes on with the defaults where its file is missing:
    // nobody is there to answer a dialog.
    return options.configuration || (!options.machine && !environment.IsOrdinaryFile(SettingsFilePath(environment)));
}

bool WantsWindows(platform::Environment& environment, platform::ProfileFile& profile)
{
    const StartOptions options = ReadStartOptions(environment.Process().arguments);
    // The desktop's handler of the log needs the desktop.
    if (WantsConfiguration(environment) || options.openLog)
        return true;
    if (options.machine || options.quiet || options.history)
        return false;
    const SettingKey& quietMode = SettingKeyOf(&Settings::QuietMode);
    return !ReadsAsYes(quietMode,
                       ReadIniValue(profile, SettingsFilePath(environment), kSettingsSection, quietMode.name).value);
}

namespace {

// Says `text` where the user sees it: in a box where someone can see one,
// and on standard error after the program's name.
void TellUser(App& app, const std::string& text, const std::string& boxText)
{
    app.platform.environment.WriteStandardError("veltrane: " + text + "\n");
    if (app.platform.windows.interactive)
        app.platform.windows.ShowMessageBox(boxText, "Veltrane", platform::MessageButtons::Ok,
                                            platform::MessageIcon::Critical);
}

// One window run per folder: a later one asks the first to come to the front
// and ends, logging why, with its settings file untouched. A first one that
// gives no answer (stopped, hung) is never a silent end: the user is told.
bool ClaimWindowRun(App& app)
{
    if (app.windowRuns == nullptr)
        return true;
    const std::string folder = app.platform.environment.ProgramFolder();
    const platform::ClaimOutcome claim = app.windowRuns->Claim(folder, [&app] { app.platform.windows.BringToFront(); });
    if (claim.result == platform::ClaimResult::Claimed)
        return true;
    OpenLog(app);
    if (claim.result == platform::ClaimResult::HolderBroughtToFront) {
        WriteLog(app, "another window run of this folder is in progress: its window was brought to the front");
        return false;
    }
    const std::string process =
        claim.holderProcess > 0 ? " (process " + std::to_string(claim.holderProcess) + ")" : std::string();
    const std::string text = "another window run of this folder" + process +
                             " is in progress but does not answer (stopped or hung?): this start ends";
    WriteLog(app, "ERROR: " + text);
    TellUser(app, text,
             "Veltrane is already running for this folder" + process +
                 ", but does not answer: it may be stopped or hung.\n\nThis start ends. End that process, or wait "
                 "for it, and start Veltrane again.");
    app.exitStatus = ExitStatus::NotAnswering;
    return false;
}

// --open-log: the log opened with the desktop's handler; nothing else is
// read or written.
ExitStatus OpenLogOnTheDesktop(App& app)
{
    const std::string log = app.LogFile(kLogFileName);
    std::string problem;
    if (!app.platform.environment.IsOrdinaryFile(log))
        problem = "there is no log yet: " + log;
    else if (!app.windowsUnavailable.empty())
        problem = "there is no desktop to open the log with (" + app.windowsUnavailable + "): " + log;
    else if (!app.platform.shell.Open(log))
        problem = "no program opened the log: " + log;
    if (problem.empty())
        return ExitStatus::Ok;
    std::string box = problem;
    box[0] = static_cast<char>(box[0] - 'a' + 'A');
    TellUser(app, problem, box);
    return ExitStatus::NoLogOpened;
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
        // Nobody watches a window: the log goes to standard error as well,
        // stamped but where the journal stamps it.
        const platform::ErrorStream errors = environment.Process().standardError;
        app.log.toStandardError = errors != platform::ErrorStream::None;
        app.log.stampedOnStandardError = errors != platform::ErrorStream::Journal;
        app.log.journalPriorities = errors == platform::ErrorStream::Journal;
        if (app.machineRun && !BeginMachineRun(app))
            return;
        RunSync(app);
        if (app.machineRun)
            PublishRunReport(app, EndMachineRun(app).obtained);
        return;
    }
    app.startRun = RunSync;
    window.Show();
}

ExitStatus ProgramMain(App& app)
{
    const StartOptions options = ReadStartOptions(app.platform.environment.Process().arguments);
    if (options.openLog)
        return OpenLogOnTheDesktop(app);
    if (options.history)
        return ShowHistory(app);
    StartChosen(app);
    // The process lives on while the status window is open or its run goes on
    // (a run whose window the user closed carries on without it).
    while (app.HasStatusWindow() && !app.runFinished && (app.flags.RunStarted || frmVEL(app).Form().IsVisible()))
        app.platform.pump.WaitForEvents(3600.0);
    if (app.runFinished && app.exitStatus != ExitStatus::Ok)
        SayWhereTheLogIs(app);
    return app.exitStatus;
}

}  // namespace vel
