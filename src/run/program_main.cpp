#include "run/program_main.h"

#include <memory>
#include <utility>

#include "app/app.h"
#include "platform/host.h"
#include "run/entry.h"
#include "run/stop.h"

namespace vel {

int ProgramMain(int argc, char** argv)
{
    int status = 0;
    std::unique_ptr<platform::Host> host = platform::CreatePlatform(argc, argv, status);
    if (!host)
        return status;  // answered or refused before a run

    platform::HostParts parts = host->Get();
    App app(parts.platform);
    app.fatal = std::move(parts.fatal);
    app.endProcess = [&host](int exitStatus) { host->Exit(exitStatus); };
    app.windowsUnavailable = host->WindowsUnavailable();
    app.windowRuns = &parts.windowRuns;
    app.httpsDate = &parts.httpsDate;
    host->OnStopRequest([&app](int number, const std::string& name) { StopBySignal(app, number, name); });
    status = static_cast<int>(ProgramMain(app));
    host->Exit(status);
    return status;  // Exit does not return
}

}  // namespace vel
