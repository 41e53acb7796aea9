// frmAbout: name, version, legal notice, the maker's links and System Info.
#pragma once

namespace vel {

class App;

// Shows the About box modally; returns when it has been closed.
void ShowAboutDialog(App& app);

}  // namespace vel
