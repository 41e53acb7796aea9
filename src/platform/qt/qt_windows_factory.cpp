#include "platform/factory.h"
#include "platform/qt/qt_shell.h"
#include "platform/qt/qt_window_system.h"

namespace vel::platform {

std::unique_ptr<WindowSystem> CreateWindowSystem(EventPump& pump)
{
    return std::make_unique<QtWindowSystem>(pump);
}

std::unique_ptr<Shell> CreateShell()
{
    return std::make_unique<QtShell>();
}

}  // namespace vel::platform
