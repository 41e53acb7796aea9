// Veltrane: sets the PC clock from a Daytime server, once per start.
#include <memory>

#include "app/app.h"
#include "platform/host.h"
#include "run/entry.h"
#include "run/stop.h"

int main(int argc, char** argv)
{
    int status = 0;
    std::unique_ptr<vel::platform::Host> host = vel::platform::CreatePlatform(argc, argv, status);
    if (!host)
        return status;  // answered or refused before a run

    vel::App app(host->Get());
    app.fatal = host->FatalHandler();
    host->OnStopRequest([&app](int number, const std::string& name) { vel::StopBySignal(app, number, name); });
    host->Exit(static_cast<int>(vel::RunProgram(app)));
}
