// One window run per settings folder and user at a time. Started twice (the
// log-on entry and a click), the second start would open a second status
// window over the first; instead it asks the first to come to the front and
// ends. Quiet runs claim nothing.
#pragma once

#include <functional>
#include <string>

namespace vel::platform {

class WindowRunClaim {
public:
    virtual ~WindowRunClaim() = default;

    // Claims the window run of `folder` (the program folder) for this process
    // until it ends. False when another process of this user holds it. Where
    // the system offers no way to tell, true. While it is held, comeToFront
    // runs from the event pump each time a later start asks this process to
    // come to the front.
    virtual bool Claim(const std::string& folder, std::function<void()> comeToFront) = 0;

    // Asks the process that holds the claim on `folder` to bring its windows
    // to the front; false when it could not be reached.
    virtual bool AskHolderToFront(const std::string& folder) = 0;
};

}  // namespace vel::platform
