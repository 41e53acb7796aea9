#include "connection/connection_strategy.h"

#include <cstdint>

#include "app/app.h"
#include "common/text.h"
#include "common/wait.h"
#include "connection/dun_library.h"
#include "log/log.h"

namespace vel {

namespace {

constexpr int kLanChecks = 3;
constexpr float kLanCheckPauseSeconds = 2.0f;
constexpr int kPollsUntilListed = 15;   // phase 1: the dialer's connection shows up
constexpr int kPollsUntilLinkUp = 120;  // phase 2: its link comes up
constexpr float kDialPollSeconds = 1.0f;

enum : std::int16_t { kNoConnection = 0, kListed = 1, kLinkUp = 2 };

void LogModemConnection(App& app)
{
    std::int16_t status = 0;
    std::string name;
    GetActiveConnection(app, status, name);
    WriteLog(app, "detected current connection via MODEM (" + name + ")");
}

std::int16_t PollActiveConnection(App& app)
{
    app.platform.pump.DoEvents();
    std::int16_t status = 0;
    std::string name;
    GetActiveConnection(app, status, name);
    return status;
}

// Follows the first active dial-up connection, whichever entry it belongs to,
// until its link is up (true), it goes away, the user cancels or the polls
// run out (false).
bool WaitForDialUpLink(App& app)
{
    bool listed = false;
    for (int poll = 0; poll < kPollsUntilListed; ++poll) {
        if (PollActiveConnection(app) != kNoConnection) {
            listed = true;
            break;
        }
        if (app.flags.UserCancelled)
            return false;
        WaitSeconds(app.platform.pump, app.platform.clock, kDialPollSeconds);
    }
    if (!listed)
        return false;

    for (int poll = 0; poll < kPollsUntilLinkUp; ++poll) {
        const std::int16_t status = PollActiveConnection(app);
        if (status == kLinkUp)
            return true;
        if (status == kNoConnection)  // the dialer was closed or gave up
            return false;
        if (app.flags.UserCancelled)
            return false;
        WaitSeconds(app.platform.pump, app.platform.clock, kDialPollSeconds);
    }
    return false;
}

}  // namespace

bool ConnectToInternet(App& app)
{
    const std::string kind = ToUpper(app.settings.ConnectionType.substr(0, 1));
    if (kind == "L")
        return ConnectViaLAN(app);
    if (kind == "B")
        return ConnectViaLAN(app) || ConnectViaModem(app);
    return ConnectViaModem(app);
}

bool ConnectViaLAN(App& app)
{
    for (int check = 0; check < kLanChecks; ++check) {
        if (IsInternetConnected(app)) {
            app.AlreadyConnected = true;
            if (IsModemConnection(app))
                LogModemConnection(app);
            else
                WriteLog(app, "detected current connection via LAN");
            return true;
        }
        // The pause follows the last check as well.
        WaitSeconds(app.platform.pump, app.platform.clock, kLanCheckPauseSeconds);
    }
    WriteLog(app, "ERROR: connection via LAN failed");
    return false;
}

bool ConnectViaModem(App& app)
{
    if (IsModemConnection(app)) {
        app.AlreadyConnected = true;
        LogModemConnection(app);
        return true;
    }
    if (app.settings.Connectoid.empty()) {
        WriteLog(app, "ERROR: no dialup connection configured");
        return false;
    }
    if (DialConnectoid(app, app.settings.Connectoid))
        return true;
    WriteLog(app, app.flags.UserCancelled ? "user cancelled out of connection" : "ERROR: could not connect to any DUN");
    return false;
}

bool DialConnectoid(App& app, const std::string& entry)
{
    // A refused name started no dialer: there is nothing to wait for.
    const bool connected = StartDialer(app, entry) && WaitForDialUpLink(app);
    const std::string shown = PrintableEntryName(entry);
    WriteLog(app, connected ? "connected successfully to " + shown : "ERROR: connection failed to " + shown);
    return connected;
}

}  // namespace vel
