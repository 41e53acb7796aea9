// The program's start: configuration dialog, run with the status window, or
// quiet run.
#pragma once

#include "app/app.h"
#include "platform/environment.h"
#include "platform/profile_file.h"

namespace vel {

// The start decision, asked before an App exists too (the composition root
// picks the windows by it); both only read.
// Whether this start opens the configuration dialog: asked for (the word
// "config" on the command line), or no settings file yet.
bool WantsConfiguration(platform::Environment& environment);
// Whether this start will show a window: the configuration dialog or the
// status window (QuietMode not exactly "Y").
bool WantsWindows(platform::Environment& environment, platform::ProfileFile& profile);

// Decides from the command line and the settings file how this start goes and
// starts it. Returns once the dialog has closed, the quiet run is over, or the
// status window has been shown (its run then starts on activation); at once
// where another window run of the folder is in progress (it is called to the
// front). Without windows (App::windowsUnavailable) a run goes on as a quiet one.
void StartChosen(App& app);

// StartChosen, then events are dispatched until no window is left and the run
// is over. Returns the exit status for the caller.
ExitStatus ProgramMain(App& app);

}  // namespace vel
