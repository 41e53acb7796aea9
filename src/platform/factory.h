// The back ends of this build; main() picks from them.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace vel::platform {

std::unique_ptr<Clock> CreateSystemClock();
std::unique_ptr<ProfileFile> CreateProfileFile();
std::unique_ptr<DialUpNetworking> CreateDialUpNetworking();

// Qt: needs a QCoreApplication (the socket) or a QApplication (the windows).
std::unique_ptr<EventPump> CreateEventPump();
std::unique_ptr<Socket> CreateSocket(EventPump& pump);
std::unique_ptr<WindowSystem> CreateWindowSystem(EventPump& pump);
std::unique_ptr<Shell> CreateShell();

}  // namespace vel::platform
