// The step guard: a large correction rests on more than one answer. A step
// larger than StepLimit is made only when a second, independent source
// agrees with the time server within a few seconds: the Date of HTTPS
// servers (TLS vouches for it) or another Daytime server. HTTPS answers that
// show the time server's answer false stop any step.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/instant.h"

namespace vel {

class App;
struct Settings;

// Two sources agree when the PC clock's offsets they show lie this close.
inline constexpr std::int64_t kAgreementSeconds = 5;
// Daytime servers asked for a second opinion: at most this many answers,
// within this time, one connection each.
inline constexpr int kMostSecondOpinions = 3;
inline constexpr double kSecondOpinionSeconds = 30;
// HTTPS servers asked when none is configured: large operators, each its own.
inline constexpr const char* kDefaultHTTPSServers = "www.google.com www.cloudflare.com www.microsoft.com";

// How far the PC clock is ahead of the true time (behind: negative), as a
// source puts it: somewhere from `low` to `high`.
struct OffsetRange {
    platform::Span low;
    platform::Span high;
};

// How far apart two ranges lie: zero when they overlap.
platform::Span Distance(const OffsetRange& a, const OffsetRange& b);
// Within kAgreementSeconds of each other.
bool Agree(const OffsetRange& a, const OffsetRange& b);

// What the HTTPS constraints that answered say of the time server's answer.
enum class ConstraintVerdict {
    None,       // none answered (or none was asked)
    Confirmed,  // more than half of those that answered agree with it
    Lie,        // it agrees with none of them: it is false
    Undecided,  // some agree, but not more than half
};
ConstraintVerdict JudgeByConstraints(const OffsetRange& answer, const std::vector<OffsetRange>& constraints);

// When the HTTPS servers are asked (HTTPSCheck): "N" never; "ALWAYS" (any
// case) before every setting; anything else, the default, when a step is
// larger than StepLimit.
enum class HttpsCheck { Never, OverLimit, Always };
HttpsCheck HttpsCheckOf(const Settings& settings);

// A host of a list: "host", "host:port" or "[v6 address]:port".
struct HostPort {
    std::string host;
    int port = 0;
    friend bool operator==(const HostPort&, const HostPort&) = default;
};
// The hosts of a list separated by commas, blanks or tabs, each with
// `defaultPort` where it names none. Entries whose port is not 1..65535 are
// left out.
std::vector<HostPort> ParseHostList(std::string_view text, int defaultPort);

// The HTTPS servers of the settings (HTTPSServers; kDefaultHTTPSServers
// when empty), on port 443 unless they name one; never the time server's
// own host when it is asked over HTTPS.
std::vector<HostPort> HttpsServersOf(const Settings& settings);
// The Daytime servers asked for a second opinion (SecondServers): when
// empty, every host of the configuration dialog's list but the time
// server's own; "N": none. The time server's own host is never among them.
std::vector<HostPort> SecondServersOf(const Settings& settings);

// "259200.3 s ahead (± 0.7 s)", "4.6 s behind (± 0.6 s)": the middle of the
// range and half its width, to a tenth of a second (the width rounded up).
std::string DescribeOffsetRange(const OffsetRange& range);

// After the comparison found the clock off by `magnitude` seconds, and
// before it is set: asks the sources the settings call for, logs what each
// said and decides. True: the step may be made. False: it is not, and
// app.exitStatus says why (ExitStatus::Unconfirmed, or Cancelled when the
// user pressed Cancel meanwhile); the log and the window say so. In a run
// with its window shown, a step that no source confirmed is put to the user
// in a Yes/No box.
bool GuardStep(App& app, std::int64_t magnitude);

// What the status box says while the sources are asked.
inline constexpr const char* kCheckingText = "Checking the time with other sources... ";
// The clock-status label when the step was not made.
inline constexpr const char* kNotConfirmedText = "System clock not corrected! See .LOG file for details";

}  // namespace vel
