// What the program needs of the system's online state and dial-up networking.
// No operation reports failure: a failing platform call gives the empty answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vel {

class App;

bool IsInternetConnected(App& app);
bool IsModemConnection(App& app);
bool IsDialUpConnected(App& app);

// status 0: no active dial-up connection listed; 1: one listed, link not up;
// 2: one listed and the link is up. name: the first listed connection's entry.
void GetActiveConnection(App& app, std::int16_t& status, std::string& name);

void StartDialer(App& app, const std::string& entry);

// Hangs the entry up, then waits until no link is reported (bounded).
void HangUpConnection(App& app, const std::string& entry);

// The phonebook's entries, sorted by plain character codes.
void ListDialUpEntries(App& app, std::int16_t& count, std::vector<std::string>& names);

// The user's default entry; empty when none is recorded.
std::string GetDefaultConnectoid(App& app);

}  // namespace vel
