// Making an internet connection available as ConnectionType asks.
#pragma once

#include <string>

namespace vel {

class App;

// By the first letter of ConnectionType: "L" LAN only, "B" LAN with dial-up as
// fall-back, anything else dial-up only. True when a connection was found up
// or was dialled. Sets app.AlreadyConnected when one was up already.
bool ConnectToInternet(App& app);
bool ConnectViaLAN(App& app);
bool ConnectViaModem(App& app);
bool DialConnectoid(App& app, const std::string& entry);

}  // namespace vel
