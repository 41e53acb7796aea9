// One window run per settings folder and user at a time. Started twice (the
// log-on entry and a click), the second start would open a second status
// window over the first; instead it asks the first to come to the front and
// ends. Quiet runs claim nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vel::platform {

enum class ClaimResult {
    Claimed,
    HolderBroughtToFront,  // another process holds it, and answered that it came to the front
    HolderNotReached,      // another process holds it, and gave no answer within the bound
};

struct ClaimOutcome {
    ClaimResult result = ClaimResult::Claimed;
    std::int64_t holderProcess = 0;  // the holder's process id where known, else 0
};

class WindowRunClaim {
public:
    virtual ~WindowRunClaim() = default;

    // Claims the window run of `folder` (the program folder) for this process
    // until it ends or releases it. Where the system offers no way to tell,
    // it is claimed. While it is held, comeToFront runs from the event pump
    // each time a later start asks this process to come to the front. When
    // another process of this user holds it, that one is asked to bring its
    // windows to the front instead, and its answer waited for a few seconds
    // at most (a stopped process gives none).
    virtual ClaimOutcome Claim(const std::string& folder, std::function<void()> comeToFront) = 0;

    // Gives a claim of this process up (its window closed while its run goes
    // on): a later start claims it and shows a window of its own. Nothing
    // when none is held.
    virtual void Release() = 0;
};

}  // namespace vel::platform
