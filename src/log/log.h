// The log file in the log folder (the program folder, or the machine's log
// folder): one time-stamped line per step.
#pragma once

#include <string>

#include "platform/local_date_time.h"

namespace vel {

class App;

inline constexpr const char* kLogFileName = "Veltrane.log";
inline constexpr const char* kOldLogFileName = "OldLog.log";
inline constexpr long long kLogRotateBytes = 10000;  // a longer log starts afresh at the next open
inline constexpr const char* kLogStartMarker = "*** VEL started ***";

// Opens the log once per process: a log over 10000 bytes is first moved to
// OldLog.log (replacing an older one) and a new one is started. Writes the
// start marker. Runs that overlap take turns through the file's lock, waiting
// for it through the event pump; nothing is ever truncated. A log that cannot
// be opened or moved stops the program (App::Fatal).
void OpenLog(App& app);

// Appends "MM.DD.YYYY HH:MM text" and CR LF; the line is on disk when this
// returns. A quiet run writes it to standard error as well where asked
// (LogState::toStandardError), with a line feed. Opens the log first if it is not open yet. A failed write stops the
// program (App::Fatal).
void WriteLog(App& app, const std::string& text);

// Names the log on standard error at the end of a run that failed:
// "veltrane: see the log: <path>".
void SayWhereTheLogIs(App& app);

// "MM.DD.YYYY HH:MM" with the locale's time separator between hours and minutes.
std::string FormatLogTimestamp(const platform::LocalDateTime& t, const std::string& timeSeparator);

}  // namespace vel
