// The back ends of one process, made and owned by the composition root of
// this build's operating system (platform/linux/linux_platform.cpp on Linux).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/https_date.h"
#include "platform/platform.h"
#include "platform/window_run_claim.h"

namespace vel::platform {

// What a run is handed of its process, read once at the start.
struct HostParts {
    Platform platform;  // the back ends
    // What stops the program when its log cannot be written: says so (the
    // message after the program's name) where the user sees it, and ends the
    // process with the fatal exit status. Does not return.
    std::function<void(const std::string& message)> fatal;
    WindowRunClaim& windowRuns;  // the claim of a window run
    HttpsDate& httpsDate;        // the Date of HTTPS servers
};

class Host {
public:
    // windowsUnavailable: why no window can be shown in this process (no
    // display could be opened); empty when windows can show, or when the
    // start needs none.
    explicit Host(std::string windowsUnavailable) : windowsUnavailable_(std::move(windowsUnavailable)) {}
    virtual ~Host() = default;

    // The back ends, the fatal handler and the window-run claim, valid while
    // the host lives. Asked once.
    virtual HostParts Get() = 0;

    const std::string& WindowsUnavailable() const { return windowsUnavailable_; }

    // Hands a stop request of the system (a signal on Linux, the session's
    // end) to `stop` from the event loop; one at a time.
    virtual void OnStopRequest(std::function<void(int number, const std::string& name)> stop) = 0;

    // Ends the process with `status`, everything on disk already, without
    // waiting for work the back ends may still have going (a host lookup that
    // never answered).
    [[noreturn]] virtual void Exit(int status) = 0;

private:
    std::string windowsUnavailable_;
};

// The platform of this start. Null when the start ends before a run: the
// answer to --help or --version, or a start refused at once; `exitStatus`
// then holds the process's status. May end the process itself where a start
// only shows an error's box.
std::unique_ptr<Host> CreatePlatform(int& argc, char** argv, int& exitStatus);

}  // namespace vel::platform
