// Stand-in until the Qt windows are built: windows stay in memory.
#include "platform/factory.h"
#include "platform/headless/headless_windows.h"

namespace vel::platform {

namespace {

class NoShell : public Shell {
public:
    int Execute(const std::string&) override { return 2; }
};

}  // namespace

std::unique_ptr<WindowSystem> CreateWindowSystem(EventPump& pump)
{
    return std::make_unique<HeadlessWindowSystem>(pump);
}

std::unique_ptr<Shell> CreateShell()
{
    return std::make_unique<NoShell>();
}

}  // namespace vel::platform
