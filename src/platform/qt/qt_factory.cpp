// The back ends this library gives the program: the event pump, the socket,
// the windows and the shell on Qt.
#include "platform/factory.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_shell.h"
#include "platform/qt/qt_socket.h"
#include "platform/qt/qt_window_system.h"

namespace vel::platform {

std::unique_ptr<EventPump> CreateEventPump()
{
    return std::make_unique<QtEventPump>();
}

std::unique_ptr<Socket> CreateSocket(EventPump& pump)
{
    return std::make_unique<QtSocket>(pump);
}

std::unique_ptr<WindowSystem> CreateWindowSystem(EventPump& pump)
{
    return std::make_unique<QtWindowSystem>(pump);
}

std::unique_ptr<Shell> CreateShell()
{
    return std::make_unique<QtShell>();
}

}  // namespace vel::platform
