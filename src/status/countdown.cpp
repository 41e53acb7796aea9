#include "status/countdown.h"

#include "app/app.h"
#include "common/text.h"
#include "common/wait.h"
#include "status/status_window.h"

namespace vel {

void ShowCountdown(App& app, const std::string& clockStatus, const std::string& prefix, const std::int16_t& seconds,
                   const std::string& suffix, const std::string& buttonCaption)
{
    StatusWindow& window = frmVEL(app);
    if (!IsBlank(clockStatus))
        window.lblClockStatus.SetCaption(clockStatus);
    if (!IsBlank(buttonCaption))
        window.cmdCancel.SetCaption(buttonCaption);

    if (seconds == 0) {
        window.txtStatus.SetText(prefix);
        window.Refresh();
        return;
    }

    app.flags.UserCancelled = false;
    app.flags.GoPressed = false;
    for (int i = 1; i <= seconds; ++i) {
        window.txtStatus.SetText(prefix + std::to_string(seconds - i + 1) + suffix);
        WaitSeconds(app.platform.pump, app.platform.clock, 1.0f);
        if (app.flags.UserCancelled || app.flags.GoPressed || app.flags.ConfigurePressed)
            break;
    }
}

}  // namespace vel
