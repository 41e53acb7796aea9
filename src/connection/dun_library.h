// What the program needs of the system's online state and dial-up networking.
// No operation reports failure: a failing platform call gives the empty answer.
// Nothing is kept between calls: every call asks the platform afresh. Warnings
// the platform gathers on the way (a service that does not answer) go to the
// log while it is open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vel {

class App;

// After a hang-up: a first wait, then one poll a second while a link is
// reported, for at most kHangUpBoundSeconds (then a warning is logged).
inline constexpr float kHangUpFirstWaitSeconds = 3.0f;
inline constexpr float kHangUpPollSeconds = 1.0f;
inline constexpr double kHangUpBoundSeconds = 30.0;

// The phonebook's record array holds this many entries.
inline constexpr std::size_t kMaxDialUpEntries = 256;

bool IsInternetConnected(App& app);
bool IsModemConnection(App& app);
bool IsDialUpConnected(App& app);

// status 0: no active dial-up connection listed; 1: one listed, link not up;
// 2: one listed and the link is up. name: the first listed connection's entry.
void GetActiveConnection(App& app, std::int16_t& status, std::string& name);

// An entry name goes into the dialer's and the hang-up program's command
// lines inside double quotes (or, on some systems, bare): a double quote or a
// control character in it would end the name early. Such a name is never
// handed to the platform.
bool IsSafeEntryName(std::string_view entry);

// The name as a log line shows it: control characters become '?', so that
// the line stays one line.
std::string PrintableEntryName(std::string_view entry);

// Starts the system's dialer for the entry and returns at once; true when
// it was started. Otherwise (an unsafe name, no entry of that name, a name
// the system's dialer cannot take, a dialer that cannot be started) an error
// line in the log says why, "ERROR: dial-up entry not dialled: ", and false.
bool StartDialer(App& app, const std::string& entry);

// Starts hanging the entry up and returns at once; true when it was started
// or nothing of that name is up. Otherwise (an unsafe name, a hang-up program
// that cannot be started) an error line in the log says why, and false.
bool StartHangUp(App& app, const std::string& entry);

// StartHangUp, then waits until no link is reported (bounded; a link still
// up at the bound is logged as a warning). When the hang-up could not be
// started, nothing is waited for.
void HangUpConnection(App& app, const std::string& entry);

// The phonebook's entries (at most 256), sorted by plain character codes.
// Names that IsSafeEntryName refuses are left out.
void ListDialUpEntries(App& app, std::int16_t& count, std::vector<std::string>& names);

// The user's default entry; empty when none is recorded.
std::string GetDefaultConnectoid(App& app);

}  // namespace vel
