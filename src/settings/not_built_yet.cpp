// Stand-in until the configuration dialog is built.
#include <cstdio>

#include "common/app.h"
#include "settings/config_dialog.h"

namespace vel {

void ShowConfigurationDialog(App& app)
{
    std::fprintf(stderr, "Veltrane: the configuration dialog is not built yet\n");
    app.flags.UserCancelled = true;
}

}  // namespace vel
