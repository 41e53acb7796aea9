#include "connection/dun_library.h"

#include <algorithm>

#include "common/app.h"
#include "common/wait.h"

namespace vel {

bool IsInternetConnected(App& app)
{
    return app.platform.dialUp.GetConnectedState().connected;
}

bool IsModemConnection(App& app)
{
    return (app.platform.dialUp.GetConnectedState().flags & platform::INTERNET_CONNECTION_MODEM) != 0;
}

bool IsDialUpConnected(App& app)
{
    return app.platform.dialUp.IsDialUpLinkUp();
}

void GetActiveConnection(App& app, std::int16_t& status, std::string& name)
{
    status = 0;
    name.clear();
    const std::vector<std::string> active = app.platform.dialUp.ActiveConnections();
    if (active.empty())
        return;
    // Only the first listed connection counts, whatever the count.
    name = active.front();
    status = IsDialUpConnected(app) ? 2 : 1;
}

void StartDialer(App& app, const std::string& entry)
{
    app.platform.dialUp.StartDialer(entry);
}

void HangUpConnection(App& app, const std::string& entry)
{
    app.platform.dialUp.HangUp(entry);
    WaitSeconds(app, 3.0f);
    while (IsDialUpConnected(app))
        WaitSeconds(app, 1.0f);
}

void ListDialUpEntries(App& app, std::int16_t& count, std::vector<std::string>& names)
{
    names = app.platform.dialUp.Entries();
    if (names.size() > 256)
        names.resize(256);  // the phonebook's record array holds 256
    count = static_cast<std::int16_t>(names.size());
    // Plain character codes: upper case sorts before lower case.
    if (names.size() >= 2)
        std::sort(names.begin(), names.end());
}

std::string GetDefaultConnectoid(App& app)
{
    return app.platform.dialUp.DefaultEntry();
}

}  // namespace vel
