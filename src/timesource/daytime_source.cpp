#include "app/app.h"
#include "timesource/daytime_client.h"
#include "timesource/time_source.h"

namespace vel {

namespace {

class Daytime final : public TimeSource {
public:
    const char* Name() const override { return "Daytime"; }
    bool Ask(App& app, const std::string& host, TimeQueryState& query) const override
    {
        return GetDaytimeTime(app, host, query);
    }
    bool Refine(App& app, const std::string& host, TimeQueryState& query) const override
    {
        return RefineServerTime(app, host, query);
    }
};

}  // namespace

const TimeSource& DaytimeSource()
{
    static const Daytime source;
    return source;
}

}  // namespace vel
