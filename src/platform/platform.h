// Everything the core reaches of the outside world.
#pragma once

#include "platform/clock.h"
#include "platform/datagram_socket.h"
#include "platform/dialup.h"
#include "platform/environment.h"
#include "platform/event_pump.h"
#include "platform/profile_file.h"
#include "platform/shell.h"
#include "platform/socket.h"
#include "platform/window_system.h"

namespace vel::platform {

// The back ends one process runs on. The references stay valid for the whole
// life of the App that holds them.
struct Platform {
    Clock& clock;
    EventPump& pump;
    Environment& environment;
    ProfileFile& profile;
    WindowSystem& windows;
    Socket& socket;
    DialUpNetworking& dialUp;
    Shell& shell;
    DatagramSocket& datagram;  // UDP, for NTP
};

}  // namespace vel::platform
