// Status texts and second-by-second countdowns in the status window.
#pragma once

#include <cstdint>
#include <string>

namespace vel {

class App;

// Sets the status label (unless clockStatus is blank) and the Cancel button's
// caption (unless buttonCaption is blank). With seconds 0 the status box shows
// prefix alone and the window is repainted. Otherwise clears UserCancelled and
// GoPressed and shows prefix + remaining seconds + suffix, counting from
// seconds down to 1, one second each, until the count is over or Cancel, Go or
// Configure is pressed (checked at the end of each second).
void ShowCountdown(App& app, const std::string& clockStatus, const std::string& prefix, const std::int16_t& seconds,
                   const std::string& suffix, const std::string& buttonCaption);

}  // namespace vel
