// Stand-in until the About box is built.
#include <cstdio>

#include "about/about_dialog.h"

namespace vel {

void ShowAboutDialog(App&)
{
    std::fprintf(stderr, "Veltrane: the About box is not built yet\n");
}

}  // namespace vel
