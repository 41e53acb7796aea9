#include "timesource/https_constraint.h"

#include <array>
#include <cstddef>
#include <memory>

#include "app/app.h"
#include "platform/local_date_time.h"
#include "timesource/daytime_answer.h"

namespace vel {

namespace {

using platform::Instant;

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                       "Friday", "Saturday", "Sunday"};

// A reader of fixed positions: every piece must be there, exactly.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool Literal(std::string_view piece)
    {
        if (text_.substr(at_, piece.size()) != piece)
            return false;
        at_ += piece.size();
        return true;
    }
    // Exactly `count` digits.
    bool Digits(std::size_t count, int& value)
    {
        if (at_ + count > text_.size())
            return false;
        value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const char c = text_[at_ + i];
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        at_ += count;
        return true;
    }
    // One of the names; its index in `index`.
    template <std::size_t N>
    bool OneOf(const std::array<std::string_view, N>& names, int& index)
    {
        for (std::size_t i = 0; i < N; ++i)
            if (Literal(names[i])) {
                index = static_cast<int>(i);
                return true;
            }
        return false;
    }
    bool TimeOfDay(int& hour, int& minute, int& second)
    {
        return Digits(2, hour) && Literal(":") && Digits(2, minute) && Literal(":") && Digits(2, second);
    }
    bool AtEnd() const { return at_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// The three forms of a Date; each fills the fields and reports whether the
// text is wholly of it.
struct DateFields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "Sun, 06 Nov 1994 08:49:37 GMT"
bool ReadFixdate(std::string_view text, DateFields& f)
{
    Reader r(text);
    int weekday = 0;
    return r.OneOf(kDays, weekday) && r.Literal(", ") && r.Digits(2, f.day) && r.Literal(" ") &&
           r.OneOf(kMonths, f.month) && r.Literal(" ") && r.Digits(4, f.year) && r.Literal(" ") &&
           r.TimeOfDay(f.hour, f.minute, f.second) && r.Literal(" GMT") && r.AtEnd();
}

// "Sunday, 06-Nov-94 08:49:37 GMT": a two-digit year from 70 is of the
// 1900s, below it of the 2000s.
bool ReadRfc850(std::string_view text, DateFields& f)
{
    Reader r(text);
    int weekday = 0;
    if (!(r.OneOf(kLongDays, weekday) && r.Literal(", ") && r.Digits(2, f.day) && r.Literal("-") &&
          r.OneOf(kMonths, f.month) && r.Literal("-") && r.Digits(2, f.year) && r.Literal(" ") &&
          r.TimeOfDay(f.hour, f.minute, f.second) && r.Literal(" GMT") && r.AtEnd()))
        return false;
    f.year += f.year >= 70 ? 1900 : 2000;
    return true;
}

// "Sun Nov  6 08:49:37 1994": the day blank-padded.
bool ReadAsctime(std::string_view text, DateFields& f)
{
    Reader r(text);
    int weekday = 0;
    if (!(r.OneOf(kDays, weekday) && r.Literal(" ") && r.OneOf(kMonths, f.month) && r.Literal(" ")))
        return false;
    if (!(r.Literal(" ") ? r.Digits(1, f.day) : r.Digits(2, f.day)))
        return false;
    return r.Literal(" ") && r.TimeOfDay(f.hour, f.minute, f.second) && r.Literal(" ") && r.Digits(4, f.year) &&
           r.AtEnd();
}

}  // namespace

std::optional<Instant> ParseHttpDate(std::string_view text)
{
    text = TrimSpaces(text);
    DateFields f;
    if (!ReadFixdate(text, f) && !ReadRfc850(text, f) && !ReadAsctime(text, f))
        return std::nullopt;
    ++f.month;  // the readers give the month's index
    if (!platform::IsValidDate(f.year, f.month, f.day) || !platform::IsValidTimeOfDay(f.hour, f.minute, f.second))
        return std::nullopt;
    return platform::InstantOfUtc({f.year, f.month, f.day, f.hour, f.minute, f.second});
}

OffsetRange ConstraintRange(const Instant& sent, const Instant& received, const Instant& date)
{
    // The server read its clock at some moment the PC clock put between
    // `sent` and `received`, and read a time within [date, date + 1 s).
    return {sent - (date + platform::Seconds(1)), received - date};
}

bool DateWithinChain(const Instant& date, const std::vector<platform::CertificateValidity>& chain)
{
    if (chain.empty())
        return false;
    for (const platform::CertificateValidity& certificate : chain)
        if (date < certificate.notBefore || date > certificate.notAfter)
            return false;
    return true;
}

UsableDate JudgeReply(const platform::HttpsDateReply& reply)
{
    using Outcome = platform::HttpsDateReply::Outcome;
    if (reply.outcome == Outcome::Failed)
        return {std::nullopt, reply.error.empty() ? std::string("the request failed") : reply.error};
    const std::optional<Instant> date = ParseHttpDate(reply.date);
    if (!date)
        return {std::nullopt, reply.date.empty() ? std::string("its answer has no Date")
                                                 : "its Date cannot be read: " + PrintableAnswer(reply.date)};
    if (reply.outcome == Outcome::TrustedButForDates) {
        // The PC clock may be wrong by years (a dead backup battery): a
        // certificate then looks expired or not yet valid. The chain counts
        // only when the server's own Date lies within the validity of every
        // certificate in it.
        if (!DateWithinChain(*date, reply.chain))
            return {std::nullopt, "a certificate is expired or not yet valid by the PC clock, and the server's Date (" +
                                      PrintableAnswer(reply.date) + ") lies outside its validity too"};
        return {date, "its certificates are not valid by the PC clock, but the server's Date (" +
                          PrintableAnswer(reply.date) + ") lies within the validity of each: accepted"};
    }
    return {date, {}};
}

std::string ServerName(const HostPort& server, int defaultPort)
{
    if (server.port == defaultPort)
        return server.host;
    const bool v6 = server.host.find(':') != std::string::npos;
    return (v6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port);
}

std::vector<Constraint> AskConstraints(App& app, const std::vector<HostPort>& servers)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;

    struct Request {
        Instant sent;
        Instant received;
        bool replied = false;
        platform::HttpsDateReply reply;
    };
    std::vector<Request> requests(servers.size());
    std::vector<Constraint> constraints(servers.size());
    for (std::size_t i = 0; i < servers.size(); ++i)
        constraints[i].server = servers[i];
    if (app.httpsDate == nullptr) {
        for (Constraint& constraint : constraints)
            constraint.note = "HTTPS requests are not available in this build";
        return constraints;
    }

    std::size_t pending = servers.size();
    for (std::size_t i = 0; i < servers.size(); ++i) {
        requests[i].sent = clock.Read().utc;
        app.httpsDate->Ask(servers[i].host, servers[i].port,
                           [&requests, &pending, &clock, i](const platform::HttpsDateReply& reply) {
                               Request& request = requests[i];
                               if (request.replied)
                                   return;
                               request.received = clock.Read().utc;
                               request.reply = reply;
                               request.replied = true;
                               --pending;
                           });
    }
    const double deadline = clock.MonotonicSeconds() + kConstraintWaitSeconds;
    while (pending > 0 && !app.flags.UserCancelled) {
        pump.DoEvents();
        const double left = deadline - clock.MonotonicSeconds();
        if (pending == 0 || app.flags.UserCancelled || left <= 0)
            break;
        pump.WaitForEvents(left);
    }
    // No reply reaches the requests after this.
    app.httpsDate->CancelAll();

    for (std::size_t i = 0; i < servers.size(); ++i) {
        const Request& request = requests[i];
        Constraint& constraint = constraints[i];
        if (!request.replied) {
            constraint.note =
                app.flags.UserCancelled
                    ? "User cancelled"
                    : "no answer within " + std::to_string(static_cast<int>(kConstraintWaitSeconds)) + " seconds";
            continue;
        }
        const UsableDate judged = JudgeReply(request.reply);
        constraint.note = judged.note;
        if (!judged.date)
            continue;
        constraint.usable = true;
        constraint.range = ConstraintRange(request.sent, request.received, *judged.date);
    }
    return constraints;
}

}  // namespace vel
