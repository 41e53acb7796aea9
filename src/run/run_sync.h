// One whole synchronisation run, from opening the log to closing the status
// window.
#pragma once

namespace vel {

class App;

void RunSync(App& app);

}  // namespace vel
