// The claim of a window run on Linux, in the user's runtime folder
// ($XDG_RUNTIME_DIR): a lock file per program folder, held with flock for the
// life of the claim (the system drops it when the process ends, however it
// ends). The holder listens on a local socket in the abstract namespace under
// a name of its own drawn at random (so it always fits, nothing lies at it in
// the file system, and nobody can take it in advance), and writes that name
// into the lock file. A later start reads it there, connects, and waits for
// the holder's one-byte answer that it came to the front. Both ends check
// that the other is a process of the same user. Abstract names belong to a
// network namespace: a start in another one finds the holder but cannot reach
// it, and says so.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/window_run_claim.h"

class QSocketNotifier;

namespace vel::platform {

class LinuxWindowRunClaim : public WindowRunClaim {
public:
    // How long a later start waits for the holder's answer.
    static constexpr double kAnswerSeconds = 3.0;

    // `runtimeFolder`: the user's own runtime folder. One that is missing,
    // not a folder, not the user's or writable by others coordinates
    // nothing: every claim is granted. Needs a QCoreApplication; the claim's
    // requests are handled in the thread that claimed.
    explicit LinuxWindowRunClaim(std::string runtimeFolder, double answerSeconds = kAnswerSeconds);
    ~LinuxWindowRunClaim() override;
    LinuxWindowRunClaim(const LinuxWindowRunClaim&) = delete;
    LinuxWindowRunClaim& operator=(const LinuxWindowRunClaim&) = delete;

    ClaimOutcome Claim(const std::string& folder, std::function<void()> comeToFront) override;
    void Release() override;

    // "<runtime folder>/veltrane-<key of the folder>.lock"; empty when the
    // runtime folder cannot be used.
    std::string LockPathFor(const std::string& folder) const;

private:
    enum class Attempt { Claimed, Answered, NoAnswer, TryAgain };
    Attempt TryClaim(const std::string& lockPath);
    Attempt AskHolder(const std::string& lockPath, double deadline, std::int64_t& holder);
    bool Listen();
    void AcceptRequests();

    std::string runtimeFolder_;  // empty: none that can be used
    double answerSeconds_;
    int lock_ = -1;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> comeToFront_;
};

}  // namespace vel::platform
