// Stand-ins until the connection strategy and the dial-up services are built.
#include <cstdio>

#include "common/app.h"
#include "connection/connection_strategy.h"
#include "connection/dun_library.h"

namespace vel {

bool ConnectToInternet(App&)
{
    std::fprintf(stderr, "Veltrane: the connection step is not built yet\n");
    return false;
}
bool ConnectViaLAN(App&) { return false; }
bool ConnectViaModem(App&) { return false; }
bool DialConnectoid(App&, const std::string&) { return false; }
bool IsInternetConnected(App&) { return false; }
bool IsModemConnection(App&) { return false; }
bool IsDialUpConnected(App&) { return false; }
void GetActiveConnection(App&, std::int16_t& status, std::string& name)
{
    status = 0;
    name.clear();
}
void StartDialer(App&, const std::string&) {}
void HangUpConnection(App&, const std::string&) {}
void ListDialUpEntries(App&, std::int16_t& count, std::vector<std::string>& names)
{
    count = 0;
    names.clear();
}
std::string GetDefaultConnectoid(App&) { return {}; }

}  // namespace vel
