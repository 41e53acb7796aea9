#include "support/https_peer.h"

#include <cmath>
#include <cstdio>

#include "platform/local_date_time.h"

namespace vel::test {

std::string HttpDateText(const platform::Instant& t)
{
    static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // from 1970-01-01
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const platform::LocalDateTime d = platform::UtcDateTime(t);
    const std::int64_t days = platform::DaysFromCivil(d.year, d.month, d.day);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[((days % 7) + 7) % 7], d.day,
                  kMonths[d.month - 1], d.year, d.hour, d.minute, d.second);
    return text;
}

void FakeHttpsDate::Ask(const std::string& host, int port, platform::HttpsDateHandler handler)
{
    asked.push_back(host + ":" + std::to_string(port));
    if (clock_ != nullptr)
        askTimes.push_back(clock_->MonotonicSeconds());
    const int request = ++requests_[host];
    const auto found = servers.find(host);
    Server server;
    if (found != servers.end()) {
        server = found->second;
        if (request > 1)
            server.setUp = 0;
        if (server.changeFrom > 0 && request >= server.changeFrom) {
            server.dateAhead += server.laterAhead;
            if (server.laterFails)
                server.outcome = platform::HttpsDateReply::Outcome::Failed;
        }
    } else {
        server.roundTrip = 0;
        server.outcome = platform::HttpsDateReply::Outcome::Failed;
        server.error = "Host " + host + " not found";
    }
    if (server.silent)
        return;
    const int generation = generation_;
    pump_.After(server.setUp + server.roundTrip, [this, server, generation, handler = std::move(handler)] {
        if (generation != generation_)
            return;
        platform::HttpsDateReply reply;
        reply.outcome = server.outcome;
        if (server.outcome == platform::HttpsDateReply::Outcome::Failed) {
            reply.error = server.error;
        } else {
            const double read = -server.roundTrip / 2 + server.dateAhead;
            const double whole = std::floor(read);
            reply.date = HttpDateText(
                trueTime() + platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((read - whole) * 1e9)));
            reply.chain = server.chain;
        }
        handler(reply);
    });
}

void FakeHttpsDate::CancelAll()
{
    ++cancels;
    ++generation_;
}

}  // namespace vel::test
