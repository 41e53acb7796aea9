#include "run/stop.h"

#include <cstdint>

#include "app/app.h"
#include "common/wait.h"
#include "connection/dun_library.h"
#include "log/log.h"
#include "status/status_window.h"

namespace vel {

namespace {

constexpr float kHangUpPollSeconds = 0.5f;

// Only a line that came up (or is coming up) after this run began its
// connection step can be this run's; one that was there before is left alone.
bool MayHaveDialled(App& app)
{
    if (!app.connectStepReached || app.AlreadyConnected)
        return false;
    std::int16_t status = 0;
    std::string name;
    GetActiveConnection(app, status, name);
    return status != 0 || IsModemConnection(app);
}

// The run's own hang-up waits up to half a minute; a stop waits a few seconds.
void HangUpBounded(App& app)
{
    const std::string entry = GetDefaultConnectoid(app);
    if (entry.empty())
        return;
    if (!StartHangUp(app, entry))
        return;  // its log line says why; nothing to wait for
    platform::Clock& clock = app.platform.clock;
    const double start = clock.MonotonicSeconds();
    while (IsDialUpConnected(app)) {
        if (clock.MonotonicSeconds() - start >= kStopHangUpSeconds) {
            WriteLog(app, "WARNING: a dial-up link is still up " +
                              std::to_string(static_cast<int>(kStopHangUpSeconds)) + " seconds after hanging up \"" +
                              PrintableEntryName(entry) + "\"; no longer waiting for it");
            return;
        }
        WaitSeconds(app.platform.pump, app.platform.clock, kHangUpPollSeconds);
    }
}

}  // namespace

void StopBySignal(App& app, int signalNumber, const std::string& signalName)
{
    // The status window exists from the moment a run was chosen; only then is
    // there a log to write to and are there settings to save.
    const bool run = app.HasStatusWindow();
    if (run)
        WriteLog(app, "WARNING: stopped by signal " + signalName);
    app.flags.UserCancelled = true;
    if (run) {
        frmVEL(app).Close();  // saves the settings (a window closed before saved them then)
        if (MayHaveDialled(app))
            HangUpBounded(app);
        SayWhereTheLogIs(app);
    }
    app.EndProcess(128 + signalNumber);
}

}  // namespace vel
