// The system's online state and its dial-up networking.
#pragma once

#include <string>
#include <vector>

namespace vel::platform {

// How the system is online.
struct ConnectionState {
    bool online = false;           // the system is online
    bool modem = false;            // through a modem (a dial-up link)
    bool lan = false;              // through a local network
    bool proxy = false;            // through a proxy
    bool dialUpInstalled = false;  // dial-up networking is installed
    bool offline = false;          // offline, or working offline
    bool configured = false;       // a connection is configured, though not up
    bool operator==(const ConnectionState&) const = default;
};

// The active dial-up connections: their entry names, in the order the system
// lists them (the first is the one the program looks at; empty on failure),
// and whether a dial-up link is up (not merely dialling).
struct ActiveDialUp {
    std::vector<std::string> entries;
    bool linkUp = false;
};

// The phonebook: its entry names in the system's order (empty on failure),
// and the entry a run hangs up, the user's default (empty when none).
struct Phonebook {
    std::vector<std::string> entries;
    std::string defaultEntry;
};

class DialUpNetworking {
public:
    virtual ~DialUpNetworking() = default;

    virtual ConnectionState GetConnectionState() = 0;
    virtual ActiveDialUp GetActiveDialUp() = 0;
    virtual Phonebook GetPhonebook() = 0;

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
