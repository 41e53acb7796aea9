#include "timesource/daytime_client.h"

#include <cmath>

#include "app/app.h"
#include "timesource/daytime_answer.h"

namespace vel {

namespace {

// frmVEL's handlers for the socket: they only note what happened and close
// the socket; GetServerTime's wait reads the state.
class DaytimeHandler : public platform::SocketEvents {
public:
    explicit DaytimeHandler(App& app) : app_(app) {}

    void OnDataArrival() override
    {
        TimeQueryState& query = app_.query;
        // The clock first: the moment of arrival is what the answer is
        // measured against, to the nanosecond.
        const platform::ClockReading arrival = app_.platform.clock.Read();
        query.ServerAnswer = app_.platform.socket.GetData(kDaytimeReadLimit);
        query.AnswerTime = arrival.local.time;
        query.AnswerInstant = arrival.utc;
        query.WaitingForAnswer = false;
        app_.platform.socket.Close();
    }

    void OnError(int number, const std::string& description) override
    {
        TimeQueryState& query = app_.query;
        if (description.empty())
            query.TimeError = "unknown winsock error";
        else
            query.TimeError = "winsock error - " + std::to_string(number) + " " + description;
        query.WaitingForAnswer = false;
        app_.platform.socket.Close();
    }

private:
    App& app_;
};

// Installs the handler for the time of the query and takes it away again, so
// that no event can reach it once GetServerTime has returned.
class HandlerInstalled {
public:
    HandlerInstalled(platform::Socket& socket, platform::SocketEvents* handler) : socket_(socket)
    {
        socket_.SetHandler(handler);
    }
    ~HandlerInstalled()
    {
        socket_.Close();
        socket_.SetHandler(nullptr);
    }
    HandlerInstalled(const HandlerInstalled&) = delete;
    HandlerInstalled& operator=(const HandlerInstalled&) = delete;

private:
    platform::Socket& socket_;
};

// Whole seconds on the monotonic clock: a change of the time of day neither
// stretches nor cuts a time-out.
double WholeSeconds(double seconds)
{
    return std::floor(seconds);
}

// Time servers refuse a client that asks more often than once every 4
// seconds: the next attempt waits until 4 seconds after the last connect,
// with the window's events handled. False when Cancel ended the wait.
bool SpacedFromLastConnect(App& app, double lastConnect)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    const double start = lastConnect + kDaytimeAttemptSpacingSeconds;
    while (!app.flags.UserCancelled) {
        if (clock.MonotonicSeconds() >= start)
            return true;
        pump.DoEvents();
        const double left = start - clock.MonotonicSeconds();
        if (!app.flags.UserCancelled && left > 0)
            pump.WaitForEvents(left);
    }
    return false;
}

}  // namespace

std::string ServerHost(const std::string& entry)
{
    const std::size_t blank = entry.find(' ');
    return blank == std::string::npos ? entry : entry.substr(0, blank);
}

bool GetServerTime(App& app)
{
    platform::Socket& socket = app.platform.socket;
    platform::EventPump& pump = app.platform.pump;
    platform::Clock& clock = app.platform.clock;
    TimeQueryState& query = app.query;

    DaytimeHandler handler(app);
    HandlerInstalled installed(socket, &handler);
    socket.SetRemoteHost(ServerHost(app.settings.NTPServer));
    socket.SetRemotePort(DaytimePort);

    std::string parsed;
    bool timedOut = false;
    double lastConnect = 0;
    for (int attempt = 1; attempt <= kDaytimeAttempts; ++attempt) {
        if (attempt > 1 && !SpacedFromLastConnect(app, lastConnect))
            break;  // cancelled while waiting
        query.WaitingForAnswer = true;
        // Noticed once the whole-second reading is past the deadline: 10 to
        // 11 seconds after the connect.
        const double deadline = WholeSeconds(clock.MonotonicSeconds()) + kDaytimeTimeoutSeconds;
        timedOut = false;
        query.TimeError.clear();

        lastConnect = clock.MonotonicSeconds();
        socket.Connect();

        while (query.WaitingForAnswer) {
            pump.DoEvents();
            const double now = clock.MonotonicSeconds();
            if (WholeSeconds(now) > deadline) {
                timedOut = true;
                socket.Close();
            }
            if (app.flags.UserCancelled || !query.WaitingForAnswer || timedOut)
                break;
            // Sleep until an event comes or the time-out is due.
            const double left = deadline + 1 - now;
            pump.WaitForEvents(left > 0.001 ? left : 0.001);
        }

        parsed = ParseDaytimeAnswer(query.ServerAnswer);
        if (!parsed.empty() || app.flags.UserCancelled || query.TimeError.find("10061") != std::string::npos)
            break;
    }

    if (!parsed.empty()) {
        query.ServerTime = ConvertAnswerToLocal(app, parsed);
        query.ServerInstant = *NamedInstant(query.ServerAnswer);
        return true;
    }

    query.ServerTime = {};
    if (!query.TimeError.empty()) {
        // a socket error of the last attempt
    } else if (app.flags.UserCancelled) {
        query.TimeError = "User cancelled";
    } else if (timedOut) {
        query.TimeError = "Connection timed out";
    } else {
        // The answer is the server's, not ours: it goes into a log line.
        query.TimeError = "NTP server returned invalid time: " + PrintableAnswer(query.ServerAnswer);
    }
    return false;
}

}  // namespace vel
