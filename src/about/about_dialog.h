// frmAbout: name, version, legal notice, the maker's links and System Info.
#pragma once

#include <string>

#include "platform/window_system.h"

namespace vel {

class App;

// Shows the About box modally; returns when it has been closed.
void ShowAboutDialog(App& app);

platform::FormSpec AboutDialogSpec();

// "Version 1.55"; the revision follows as a third number only when it is
// greater than 0 ("Version 1.55.2").
std::string VersionText(int major, int minor, int revision);

// The pointer of the link labels: a pointing hand, 32 x 32, monochrome, its
// hot spot on the tip of the finger at (12, 9).
platform::CursorImage PointingHandCursor();

// Starts the system's information tool (Environment::StartSystemInformation).
// Without one, or when it does not start, a message says so.
void StartSysInfo(App& app);

}  // namespace vel
