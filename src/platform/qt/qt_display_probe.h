// Whether Qt's windows can start here. QApplication ends the process (abort,
// status 134) inside its constructor when its platform cannot start: DISPLAY
// names no server, only WAYLAND_DISPLAY is set and the Wayland plugin is
// missing, QT_QPA_PLATFORM names a platform that is not there. So a child
// process tries first.
#pragma once

#include <string>

namespace vel::platform {

struct DisplayProbe {
    bool opened = false;  // a QApplication starts here
    bool seen = false;    // and a person looks at its display (not offscreen or minimal)
    std::string failure;  // why none opened
};

// Makes a QApplication in a child process (forked: call it before this
// process has made any Qt object or thread) with this process's arguments
// and environment, and waits for it, at most 10 seconds. Without
// QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY it tries nothing.
DisplayProbe ProbeDisplay(int argc, char** argv);

// Why the platform could not start, from what Qt wrote before it ended: its
// first "qt.qpa" message without the category ("could not connect to display
// :99"), else the first line; else the signal that ended it.
std::string DisplayFailure(const std::string& qtOutput, int signal);

// Whether a person looks at windows on that Qt platform.
bool IsSeenPlatform(const std::string& platformName);

}  // namespace vel::platform
