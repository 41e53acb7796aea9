// One whole synchronisation run, from opening the log to closing the status
// window.
#pragma once

namespace vel {

class App;

void RunSync(App& app);

// Whether the run goes without its window and without the start delay: the
// settings say so (QuietMode exactly "Y"), this start asks for it (quiet,
// --quiet), or it is the machine's run.
bool RunsQuiet(const App& app);

}  // namespace vel
