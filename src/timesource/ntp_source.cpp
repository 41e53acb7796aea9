#include <string>

#include "app/app.h"
#include "log/log.h"
#include "timesource/sntp_client.h"
#include "timesource/time_source.h"

namespace vel {

namespace {

class Ntp final : public TimeSource {
public:
    const char* Name() const override { return "NTP"; }
    bool Ask(App& app, const std::string& host, TimeQueryState& query) const override
    {
        if (!GetNtpTime(app, host, query))
            return false;
        WriteLog(app, "the server answered over NTP (stratum " + std::to_string(query.ntpStratum) + ")");
        return true;
    }
    // An NTP answer carries its own fraction of a second.
    bool Refine(App&, const std::string&, TimeQueryState&) const override { return true; }
};

}  // namespace

const TimeSource& NtpSource()
{
    static const Ntp source;
    return source;
}

}  // namespace vel
