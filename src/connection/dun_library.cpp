#include "connection/dun_library.h"

#include <algorithm>

#include "app/app.h"
#include "common/wait.h"
#include "log/log.h"

namespace vel {

namespace {

void RefuseEntryName(App& app, const std::string& what, const std::string& reason, std::string_view entry)
{
    WriteLog(app, "ERROR: dial-up entry not " + what + ": " + reason + " (" + PrintableEntryName(entry) + ")");
}

void RefuseUnsafeName(App& app, const std::string& what, std::string_view entry)
{
    RefuseEntryName(app, what, "its name holds a double quote or a control character", entry);
}

// What the back end met on its way (a service that does not answer) goes to
// the log while one is open; otherwise it waits for the next call.
void LogDialUpWarnings(App& app)
{
    if (!app.log.file)
        return;
    for (const std::string& warning : app.platform.dialUp.TakeWarnings())
        WriteLog(app, warning);
}

template <typename Answer>
Answer WarningsLogged(App& app, Answer answer)
{
    LogDialUpWarnings(app);
    return answer;
}

}  // namespace

std::string PrintableEntryName(std::string_view entry)
{
    std::string shown(entry);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = '?';
    }
    return shown;
}

bool IsInternetConnected(App& app)
{
    return WarningsLogged(app, app.platform.dialUp.GetConnectionState()).online;
}

bool IsModemConnection(App& app)
{
    return WarningsLogged(app, app.platform.dialUp.GetConnectionState()).modem;
}

bool IsDialUpConnected(App& app)
{
    return WarningsLogged(app, app.platform.dialUp.GetActiveDialUp()).linkUp;
}

void GetActiveConnection(App& app, std::int16_t& status, std::string& name)
{
    status = 0;
    name.clear();
    const platform::ActiveDialUp active = WarningsLogged(app, app.platform.dialUp.GetActiveDialUp());
    if (active.entries.empty())
        return;
    // Only the first listed connection counts, whatever the count.
    name = active.entries.front();
    status = active.linkUp ? 2 : 1;
}

bool IsSafeEntryName(std::string_view entry)
{
    return std::none_of(entry.begin(), entry.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '"' || byte < 0x20 || byte == 0x7f;
    });
}

bool StartDialer(App& app, const std::string& entry)
{
    if (!IsSafeEntryName(entry)) {
        RefuseUnsafeName(app, "dialled", entry);
        return false;
    }
    if (const std::string failure = WarningsLogged(app, app.platform.dialUp.StartDialer(entry)); !failure.empty()) {
        RefuseEntryName(app, "dialled", failure, entry);
        return false;
    }
    return true;
}

bool StartHangUp(App& app, const std::string& entry)
{
    if (!IsSafeEntryName(entry)) {
        RefuseUnsafeName(app, "hung up", entry);
        return false;
    }
    if (const std::string failure = WarningsLogged(app, app.platform.dialUp.HangUp(entry)); !failure.empty()) {
        RefuseEntryName(app, "hung up", failure, entry);
        return false;
    }
    return true;
}

void HangUpConnection(App& app, const std::string& entry)
{
    // Nothing was started that could take the link down: no wait.
    if (!StartHangUp(app, entry))
        return;
    WaitSeconds(app.platform.pump, app.platform.clock, kHangUpFirstWaitSeconds);

    // A hang-up that did not take effect, or another link that stays up, must
    // not hold the program: give up after the bound.
    platform::Clock& clock = app.platform.clock;
    const double start = clock.MonotonicSeconds();
    while (IsDialUpConnected(app)) {
        if (clock.MonotonicSeconds() - start >= kHangUpBoundSeconds) {
            WriteLog(app, "WARNING: a dial-up link is still up " +
                              std::to_string(static_cast<int>(kHangUpBoundSeconds)) + " seconds after hanging up \"" +
                              PrintableEntryName(entry) + "\"; no longer waiting for it to go down");
            return;
        }
        WaitSeconds(app.platform.pump, app.platform.clock, kHangUpPollSeconds);
    }
}

void ListDialUpEntries(App& app, std::int16_t& count, std::vector<std::string>& names)
{
    names = WarningsLogged(app, app.platform.dialUp.GetPhonebook()).entries;
    // A name that would be refused at the dial is not offered.
    std::erase_if(names, [](const std::string& name) { return !IsSafeEntryName(name); });
    if (names.size() > kMaxDialUpEntries)
        names.resize(kMaxDialUpEntries);  // the first 256 in the system's order
    count = static_cast<std::int16_t>(names.size());
    // Plain character codes, byte by byte as unsigned values: upper case sorts
    // before lower case, and letters beyond ASCII after both.
    if (names.size() >= 2)
        std::sort(names.begin(), names.end());
}

std::string GetDefaultConnectoid(App& app)
{
    return WarningsLogged(app, app.platform.dialUp.GetPhonebook()).defaultEntry;
}

}  // namespace vel
