// The settings record: what the settings file holds, as the run uses it.
#pragma once

#include <cstdint>
#include <string>

namespace vel {

// StepLimit when the file has none: a correction of more than an hour needs
// a second source.
inline constexpr std::int32_t kDefaultStepLimit = 3600;

// One record per process; the fields carry the names of the INI keys.
struct Settings {
    std::string NTPServer;          // "host (operator, place)": the host is the text before the first blank
    std::string Delay;              // start delay as the user typed it
    std::int16_t DelaySeconds = 0;  // whole seconds derived from Delay, 3..60 after a load
    std::int32_t Tolerance = 0;     // seconds of clock error left alone
    std::int32_t PCOffset = 0;      // seconds the PC clock is to run ahead of the server (negative: behind)
    std::string ConnectionType;     // "LAN", "MODEM" or "BOTH" as the dialog writes it
    std::string Connectoid;         // dial-up entry to dial; empty: none
    std::string QuietMode;          // exactly "Y": no window
    std::string OnlyIfConnected;    // exactly "Y": no query without a connection
    std::string Precise;            // "Y" or empty: further queries find the server's second (read only)
    // The step guard's keys, read only: a correction larger than StepLimit
    // seconds needs a second source that agrees; the Daytime servers asked
    // for it (SecondServers), the HTTPS servers whose Date is asked
    // (HTTPSServers) and when they are asked (HTTPSCheck). Empty lists mean
    // the built-in ones.
    std::int32_t StepLimit = kDefaultStepLimit;
    std::string SecondServers;
    std::string HTTPSServers;
    std::string HTTPSCheck;
    std::string NTPFallback;  // "Y" or empty: a bare host silent on TCP 13 is asked over NTP (read only)
    std::string MetricsFile;  // the machine's runs' metrics file; empty: the system's place (read only)
};

}  // namespace vel
