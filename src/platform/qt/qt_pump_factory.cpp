#include "platform/factory.h"
#include "platform/qt/qt_event_pump.h"

namespace vel::platform {

std::unique_ptr<EventPump> CreateEventPump()
{
    return std::make_unique<QtEventPump>();
}

}  // namespace vel::platform
