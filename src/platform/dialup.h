// The system's online state and its dial-up networking.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vel::platform {

// How the system is online, as bits of ConnectedState::flags.
namespace ConnectionFlags {
enum : std::uint32_t {
    Modem = 0x01,
    Lan = 0x02,
    Proxy = 0x04,
    RasInstalled = 0x10,
    Offline = 0x20,
    Configured = 0x40,
};
}  // namespace ConnectionFlags

struct ConnectedState {
    bool connected = false;   // the call's result: the system is online
    std::uint32_t flags = 0;  // ConnectionFlags bits
};

class DialUpNetworking {
public:
    virtual ~DialUpNetworking() = default;

    // InternetGetConnectedState.
    virtual ConnectedState GetConnectedState() = 0;

    // Whether a dial-up link is up (not merely dialling).
    virtual bool IsDialUpLinkUp() = 0;

    // Entry names of the active dial-up connections, in the order the system
    // lists them (the first is the one the program looks at). Empty on failure.
    virtual std::vector<std::string> ActiveConnections() = 0;

    // Entry names of the phonebook, in the system's order. Empty on failure.
    virtual std::vector<std::string> Entries() = 0;

    // The user's default entry; empty when none is recorded.
    virtual std::string DefaultEntry() = 0;

    // Whether two entry names (UTF-8) are the same name when the case of
    // their letters is ignored, in any script ("zÜrich" and "Zürich"), as
    // this system compares text without case (lstrcmpi on Windows).
    virtual bool SameEntryNameIgnoringCase(const std::string& a, const std::string& b) = 0;

    // Starts the system's dialer for the entry, its window shown and
    // activated; returns at once. Empty when it was started, else why not (a
    // sentence for the log): no entry of that name, a name the dialer cannot
    // take as it stands, a dialer that could not be started.
    virtual std::string StartDialer(const std::string& entry) = 0;

    // Starts hanging the entry up; returns at once (the caller waits for the
    // link to go). Empty when it was started or nothing of that name is up,
    // else why it could not be (a sentence for the log).
    virtual std::string HangUp(const std::string& entry) = 0;

    // Warnings for the log met since the last call (a system service that
    // does not answer), each complete with its "WARNING: ".
    virtual std::vector<std::string> TakeWarnings() { return {}; }
};

}  // namespace vel::platform
