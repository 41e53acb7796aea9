// frmVELConfigure: the configuration dialog.
#pragma once

namespace vel {

class App;

// Shows the dialog modally and returns when it has closed. UserCancelled is
// clear afterwards only when the user pressed OK and answered Yes to running
// now.
void ShowConfigurationDialog(App& app);

}  // namespace vel
