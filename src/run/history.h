// --history: what the log (and the previous log) tell of the clock: each
// run that compared it, with the difference found and whether it was
// corrected, and how fast the clock drifts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"

namespace vel {

// One run that compared the clock with the server's time.
struct Comparison {
    std::string stamp;  // the log's "MM.DD.YYYY HH:MM" of the comparison
    double day = 0;     // the same in days since 1970 (local time)
    // How far the PC clock was ahead of the server (negative: behind), where
    // the run measured it ("the PC clock is N ms ahead of the server").
    std::optional<double> offsetSeconds;
    std::string offBy;  // "1 minute 35 seconds" when the run found it off; empty when correct
    bool corrected = false;
    double correctedDay = 0;  // when it was corrected (the new clock), in days
};

// The runs that compared the clock, oldest first, from the texts of logs
// given oldest first. A run begins at its start marker; lines that are no
// log lines are passed over.
std::vector<Comparison> ReadComparisons(const std::vector<std::string_view>& logs);

// The clock's rate from the measured offsets: a least-squares line, one
// slope for all, through each stretch between two corrections, which all
// start from where a correction leaves the clock (the stretch before the
// first correction has a start of its own).
struct Drift {
    double secondsPerDay = 0;  // positive: the clock gains (runs fast)
    double spread = 0;         // the slope's standard error, seconds a day
    int runs = 0;              // the measured runs it rests on
    double days = 0;           // from the first to the last of them
};
// nullopt: too few measured runs (three at least, an hour apart or more).
std::optional<Drift> EstimateDrift(const std::vector<Comparison>& comparisons);

// "The clock loses about 1.8 s a day (give or take 0.2 s a day, from 12
// runs over 30 days)."
std::string DescribeDrift(const std::optional<Drift>& drift, bool anyComparison);

// The whole answer: a line per comparison, then the drift.
std::string HistoryText(const std::vector<Comparison>& comparisons);

// --history: the log folder's OldLog.log and Veltrane.log read, the answer
// on standard output; nothing written. Always ExitStatus::Ok.
ExitStatus ShowHistory(App& app);

}  // namespace vel
