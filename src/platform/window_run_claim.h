// One window run per settings folder and user at a time. Started twice (the
// log-on entry and a click), the second start would open a second status
// window over the first; instead it asks the first to come to the front and
// ends. Quiet runs claim nothing.
#pragma once

#include <functional>
#include <string>

namespace vel::platform {

enum class ClaimResult {
    Claimed,
    HolderBroughtToFront,  // another process holds it, and was asked to the front
    HolderNotReached,      // another process holds it, and could not be reached
};

class WindowRunClaim {
public:
    virtual ~WindowRunClaim() = default;

    // Claims the window run of `folder` (the program folder) for this process
    // until it ends. Where the system offers no way to tell, it is claimed.
    // While it is held, comeToFront runs from the event pump each time a
    // later start asks this process to come to the front. When another
    // process of this user holds it, that one is asked to bring its windows
    // to the front instead.
    virtual ClaimResult Claim(const std::string& folder, std::function<void()> comeToFront) = 0;
};

}  // namespace vel::platform
