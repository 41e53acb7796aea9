// Stand-ins until the connection strategy and the dial-up services are built.
#include <cstdio>

#include "common/app.h"
#include "connection/connection_strategy.h"

namespace vel {

bool ConnectToInternet(App&)
{
    std::fprintf(stderr, "Veltrane: the connection step is not built yet\n");
    return false;
}
bool ConnectViaLAN(App&) { return false; }
bool ConnectViaModem(App&) { return false; }
bool DialConnectoid(App&, const std::string&) { return false; }
}  // namespace vel
