// The claim of a window run on Linux, in the user's runtime folder
// ($XDG_RUNTIME_DIR): a lock file per program folder, held with flock for the
// life of the holder (the system drops it when the process ends, however it
// ends), and beside it a local socket the holder listens on; a connection to
// it is a request to come to the front.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/window_run_claim.h"

class QSocketNotifier;

namespace vel::platform {

class LinuxWindowRunClaim : public WindowRunClaim {
public:
    // `runtimeFolder`: the user's own runtime folder. One that is missing,
    // not a folder, not the user's or writable by others coordinates
    // nothing: every claim is granted. Needs a QCoreApplication.
    explicit LinuxWindowRunClaim(std::string runtimeFolder);
    ~LinuxWindowRunClaim() override;
    LinuxWindowRunClaim(const LinuxWindowRunClaim&) = delete;
    LinuxWindowRunClaim& operator=(const LinuxWindowRunClaim&) = delete;

    ClaimResult Claim(const std::string& folder, std::function<void()> comeToFront) override;

    // "<runtime folder>/veltrane-<key of the folder><suffix>"; empty when the
    // runtime folder cannot be used.
    std::string PathFor(const std::string& folder, const std::string& suffix) const;

private:
    // False when another process holds the claim.
    bool TryClaim(const std::string& folder, std::function<void()> comeToFront);
    // False when the holder could not be reached.
    bool AskHolderToFront(const std::string& folder);
    void Listen(const std::string& socketPath);
    void AcceptRequests();

    std::string runtimeFolder_;  // empty: none that can be used
    int lock_ = -1;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> comeToFront_;
};

}  // namespace vel::platform
