// The program's start: configuration dialog, run with the status window, or
// quiet run.
#pragma once

#include "common/app.h"

namespace vel {

// Decides from the command line and the settings file how this start goes and
// starts it. Returns once the dialog has closed, the quiet run is over, or the
// status window has been shown (its run then starts on activation).
void ProgramEntry(App& app);

// ProgramEntry, then events are dispatched until no window is left and the run
// is over. Returns the exit status for the caller.
ExitStatus RunProgram(App& app);

}  // namespace vel
