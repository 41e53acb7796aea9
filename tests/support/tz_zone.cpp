// Time zones of the tz database for the virtual clock, read through the C
// library: the test process's TZ is pointed at the zone for one conversion and
// put back at once.
#include <time.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "support/virtual_time.h"

namespace vel::test {

namespace {

const char* const kZoneFolder = "/usr/share/zoneinfo";

class TimeZoneVariable {
public:
    explicit TimeZoneVariable(const std::string& zone)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", zone.c_str(), 1);
        ::tzset();
    }
    ~TimeZoneVariable()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TimeZoneVariable(const TimeZoneVariable&) = delete;
    TimeZoneVariable& operator=(const TimeZoneVariable&) = delete;

private:
    std::optional<std::string> old_;
};

}  // namespace

Zone TzZone(const std::string& name)
{
    const std::string zone = ":" + name;
    return [zone](const platform::Instant& utc) {
        TimeZoneVariable scope(zone);
        const auto seconds = static_cast<time_t>(utc.seconds);
        tm local{};
        if (::localtime_r(&seconds, &local) == nullptr)
            return std::int32_t{0};
        return static_cast<std::int32_t>(local.tm_gmtoff);  // local minus UTC
    };
}

std::vector<std::string> TzZoneNames()
{
    // zone1970.tab: country codes, coordinates, the zone's name, comments.
    std::ifstream table(std::string(kZoneFolder) + "/zone1970.tab");
    std::set<std::string> names;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string codes, coordinates, name;
        if (fields >> codes >> coordinates >> name)
            names.insert(name);
    }
    names.insert("UTC");
    return {names.begin(), names.end()};
}

}  // namespace vel::test
