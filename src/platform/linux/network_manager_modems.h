// Dial-up through NetworkManager: its connection profiles and active
// connections of the modem kinds (gsm, cdma, pppoe, adsl, bluetooth dial-up),
// and whether its primary connection is one. Every answer is nullopt (or
// false) when NetworkManager cannot be asked.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/network_manager.h"

namespace vel::platform {

// The profile types of the modem kinds: gsm, cdma, pppoe, adsl, and
// bluetooth when its bluetooth.type is "dun" (dial-up networking over a
// phone; "panu" and "nap" are networks, not dial-up).
bool IsModemProfileType(std::string_view type, std::string_view bluetoothType = {});

class NetworkManagerModems {
public:
    // busAddress: a D-Bus address; empty: the system bus. timeoutMs: the
    // longest any call may wait.
    NetworkManagerModems(std::string busAddress, int timeoutMs);

    // The global state and the primary connection.
    std::optional<NmManagerState> Manager() { return client_.Manager(); }

    // The modem profiles that have a name, in NetworkManager's order.
    std::optional<std::vector<NmProfile>> Profiles();

    struct Lookup {
        bool answered = false;             // NetworkManager listed its profiles
        std::optional<NmProfile> profile;  // the first modem profile of that name
    };
    // Reads the profiles one by one only until the one of that name.
    Lookup ProfileNamed(const std::string& name);

    // Activating or activated, of a modem kind, with a name, in
    // NetworkManager's order (going down is no longer active).
    std::optional<std::vector<NmActiveConnection>> Connections();

    // The connection that holds the default route is of a modem kind.
    bool PrimaryIsModem(const NmManagerState& manager);

    // Not waiting for the outcome; empty, or why the request failed.
    std::string Activate(const std::string& profilePath) { return client_.Activate(profilePath); }
    std::string Deactivate(const std::string& activePath) { return client_.Deactivate(activePath); }

    // "WARNING: NetworkManager does not answer", once.
    std::vector<std::string> TakeWarnings() { return client_.TakeWarnings(); }

private:
    bool IsModemConnection(const NmActiveConnection& connection);

    NetworkManagerClient client_;
};

}  // namespace vel::platform
