// daytime-server: a Daytime (RFC 867) server for tests. It answers in the NIST
// layout, the short one or xinetd's, with a chosen offset from the true time,
// sends a NIST line on time as NIST does, and can misbehave on request.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "Usage: daytime-server [options]\n"
    "A Daytime server (TCP, one line per connection) for testing Veltrane.\n"
    "\n"
    "  --address ADDR   IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N         port to listen on (default 13; 0 picks a free one)\n"
    "  --layout L       nist:   \"\\nJJJJJ YR-MO-DA HH:MM:SS TT L H msADV UTC(NIST) *\"\n"
    "                   short:  \"Www Mmm dd hh:mm:ss yyyy\\r\\n\"\n"
    "                   xinetd: \"DD MMM YYYY hh:mm:ss UTC\\r\\n\" (default nist)\n"
    "  --offset S       the answer is S seconds ahead of the true time (negative:\n"
    "                   behind; fractions allowed; default 0)\n"
    "  --health H       the NIST line's health digit (default 0: healthy)\n"
    "  --advance MS     the NIST line's msADV: how many milliseconds early an\n"
    "                   on-time line is sent (default 50.0)\n"
    "  --mode M         normal   answer at once and close (default); a NIST line\n"
    "                            then names a second that is partly over\n"
    "                   ontime   as NIST does: send the line msADV before the\n"
    "                            next second begins, naming that second, so that\n"
    "                            its on-time marker arrives as it begins\n"
    "                   silent   accept and say nothing until the client leaves\n"
    "                   split    send the answer in two pieces (the first ends\n"
    "                            inside the date), --pause apart\n"
    "                   garbage  send binary garbage (NUL bytes included) and close\n"
    "                   flood    send --flood-bytes of text, then close\n"
    "                   refuse   accept and reset the connection at once (RST)\n"
    "  --pause S        pause between the pieces of split (default 1 second)\n"
    "  --hold S         hold the accept queue full for S seconds, from the start\n"
    "                   and again after each connection taken, as a busy server\n"
    "                   does: a client's SYN meanwhile is dropped, and its system\n"
    "                   sends it again (after 1 s, then 3 s, ...)\n"
    "  --lie-from N     from the Nth connection on, answer --lie-by seconds off\n"
    "  --lie-by S       (on top of --offset; default 0)\n"
    "  --flood-bytes N  bytes sent by flood (default 8388608)\n"
    "  --count N        serve N connections, then exit (default 0: no limit)\n"
    "  --background     once listening, go to the background; the parent prints\n"
    "                   the server's process id and exits\n"
    "  --help           this text\n"
    "\n"
    "Prints \"listening on ADDR:PORT\" once the socket listens, and one line per\n"
    "connection on standard error, with the monotonic clock's time it was taken\n"
    "(and in ontime mode one more: how late the line was sent).\n"
    "Port 13 needs root; try it in a private network namespace, where nothing\n"
    "leaves this machine and the clock cannot be set:\n"
    "  unshare -r -n sh -c 'ip link set lo up; daytime-server --offset -95 --background; ...'\n";

struct Options {
    std::string address = "127.0.0.1";
    int port = 13;
    std::string layout = "nist";
    double offset = 0;
    std::string mode = "normal";
    int health = 0;
    double advanceMs = 50.0;
    double pause = 1.0;
    long long floodBytes = 8 * 1024 * 1024;
    long long count = 0;
    bool background = false;
    double hold = 0;
    long long lieFrom = 0;
    double lieBy = 0;
};

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "daytime-server: %s\n", message.c_str());
    std::exit(2);
}

double NumberArgument(const std::string& name, const char* text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value))
        Fail("invalid number for " + name + ": " + text);
    return value;
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (name == "--background") {
            options.background = true;
            continue;
        }
        if (i + 1 >= argc)
            Fail("missing value for " + name + "\n" + kUsage);
        const char* value = argv[++i];
        if (name == "--address") {
            options.address = value;
        } else if (name == "--port") {
            const double port = NumberArgument(name, value);
            if (port < 0 || port > 65535 || port != std::floor(port))
                Fail(std::string("invalid port: ") + value);
            options.port = static_cast<int>(port);
        } else if (name == "--layout") {
            options.layout = value;
            if (options.layout != "nist" && options.layout != "short" && options.layout != "xinetd")
                Fail(std::string("unknown layout: ") + value);
        } else if (name == "--offset") {
            options.offset = NumberArgument(name, value);
        } else if (name == "--mode") {
            options.mode = value;
            static const char* const kModes[] = {"normal", "ontime", "silent", "split", "garbage", "flood", "refuse"};
            bool known = false;
            for (const char* mode : kModes)
                known = known || options.mode == mode;
            if (!known)
                Fail(std::string("unknown mode: ") + value);
        } else if (name == "--health") {
            const double health = NumberArgument(name, value);
            if (health < 0 || health > 9 || health != std::floor(health))
                Fail(std::string("the health digit is 0 to 9: ") + value);
            options.health = static_cast<int>(health);
        } else if (name == "--advance") {
            options.advanceMs = NumberArgument(name, value);
            if (options.advanceMs < 0 || options.advanceMs >= 1000)
                Fail(std::string("msADV is 0 to 999.9 milliseconds: ") + value);
        } else if (name == "--pause") {
            options.pause = NumberArgument(name, value);
            if (options.pause < 0)
                Fail("the pause cannot be negative");
        } else if (name == "--flood-bytes") {
            options.floodBytes = static_cast<long long>(NumberArgument(name, value));
        } else if (name == "--count") {
            options.count = static_cast<long long>(NumberArgument(name, value));
        } else if (name == "--hold") {
            options.hold = NumberArgument(name, value);
            if (options.hold < 0)
                Fail("the hold cannot be negative");
        } else if (name == "--lie-from") {
            options.lieFrom = static_cast<long long>(NumberArgument(name, value));
        } else if (name == "--lie-by") {
            options.lieBy = NumberArgument(name, value);
        } else {
            Fail("unknown option " + name + "\n" + kUsage);
        }
    }
    return options;
}

// The server's time: the true time now plus the offset, in seconds.
double ServerNow(const Options& options)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 + options.offset;
}

// The answer line for the second that begins at `second` of the server's time.
std::string Line(const Options& options, time_t seconds)
{
    tm utc{};
    ::gmtime_r(&seconds, &utc);
    char line[128];
    if (options.layout == "nist") {
        const long long mjd = static_cast<long long>(std::floor(static_cast<double>(seconds) / 86400.0)) + 40587;
        std::snprintf(line, sizeof line, "\n%05lld %02d-%02d-%02d %02d:%02d:%02d 00 0 %d %5.1f UTC(NIST) * \n", mjd,
                      utc.tm_year % 100, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                      options.health, options.advanceMs);
    } else if (options.layout == "xinetd") {
        static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
        std::snprintf(line, sizeof line, "%02d %s %04d %02d:%02d:%02d UTC\r\n", utc.tm_mday, kMonths[utc.tm_mon],
                      utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    } else {
        std::strftime(line, sizeof line, "%a %b %e %H:%M:%S %Y\r\n", &utc);
    }
    return line;
}

// The answer for the second under way.
std::string Answer(const Options& options)
{
    return Line(options, static_cast<time_t>(std::floor(ServerNow(options))));
}

bool SendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

void Sleep(double seconds)
{
    if (seconds <= 0)
        return;
    timespec span{};
    span.tv_sec = static_cast<time_t>(seconds);
    span.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    while (::nanosleep(&span, &span) != 0 && errno == EINTR) {
    }
}

// Waits until the client closes or resets (or an hour has passed).
void WaitForClient(int fd)
{
    char buffer[512];
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&p, 1, 3600 * 1000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
    }
}

void Serve(int fd, const Options& options)
{
    const std::string& mode = options.mode;
    if (mode == "normal") {
        const std::string line = Answer(options);
        SendAll(fd, line.data(), line.size());
    } else if (mode == "ontime") {
        // The next second that can still be reached msADV early.
        const double advance = options.advanceMs / 1000.0;
        const double now = ServerNow(options);
        const double second = std::ceil(now + advance);
        const std::string line = Line(options, static_cast<time_t>(second));
        Sleep(second - advance - ServerNow(options));
        // A busy machine wakes the server late: it says how late.
        const double late = ServerNow(options) - (second - advance);
        SendAll(fd, line.data(), line.size());
        std::fprintf(stderr, "on-time line sent %.3f ms late\n", late * 1000);
    } else if (mode == "split") {
        const std::string line = Answer(options);
        // Cut inside the date, so the first piece alone is never an answer.
        const std::size_t half = line.size() < 12 ? line.size() / 2 : 12;
        SendAll(fd, line.data(), half);
        Sleep(options.pause);
        SendAll(fd, line.data() + half, line.size() - half);
    } else if (mode == "garbage") {
        std::string junk;
        unsigned state = static_cast<unsigned>(::getpid()) * 2654435761u + 1;
        for (int i = 0; i < 96; ++i) {
            state = state * 1103515245u + 12345u;
            junk += static_cast<char>((state >> 16) & 0xFF);
        }
        junk[3] = '\0';  // a NUL where the layout is told apart
        junk += '\n';
        SendAll(fd, junk.data(), junk.size());
    } else if (mode == "flood") {
        std::string block(64 * 1024, 'x');
        for (std::size_t i = 63; i < block.size(); i += 64)
            block[i] = '\n';
        long long left = options.floodBytes;
        while (left > 0) {
            const std::size_t size =
                left < static_cast<long long>(block.size()) ? static_cast<std::size_t>(left) : block.size();
            if (!SendAll(fd, block.data(), size))
                break;  // the client has had enough
            left -= static_cast<long long>(size);
        }
    } else if (mode == "silent") {
        WaitForClient(fd);
    } else if (mode == "refuse") {
        // Closing with a zero linger time resets the connection.
        linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    ::close(fd);
}

double Monotonic()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// The accept queue held full: a backlog of none, and one connection of our
// own in it that is not accepted until the hold ends. A SYN that comes
// meanwhile finds the queue full and is dropped.
struct Hold {
    int own = -1;  // our own connection's end, or -1: no hold
    double until = 0;
};

Hold StartHold(int listener, const sockaddr_in& address, double seconds)
{
    if (seconds <= 0)
        return {};
    Hold hold{::socket(AF_INET, SOCK_STREAM, 0), Monotonic() + seconds};
    // A queue that holds a client's connection already drops our SYN too:
    // one client at a time, or this fails.
    const timeval bounded{1, 0};
    if (hold.own < 0 || ::setsockopt(hold.own, SOL_SOCKET, SO_SNDTIMEO, &bounded, sizeof bounded) != 0 ||
        ::listen(listener, 0) != 0 ||
        ::connect(hold.own, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        Fail(std::string("cannot hold the queue: ") + std::strerror(errno));
    return hold;
}

void EndHold(int listener, Hold& hold)
{
    if (hold.own < 0)
        return;
    Sleep(hold.until - Monotonic());
    // The only connection in the queue is our own.
    const int taken = ::accept(listener, nullptr, nullptr);
    if (taken >= 0)
        ::close(taken);
    ::close(hold.own);
    hold.own = -1;
    ::listen(listener, 16);
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGCHLD, SIG_IGN);  // connection handlers reap themselves

    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        Fail(std::string("socket: ") + std::strerror(errno));
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    if (::inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1)
        Fail("not an IPv4 address: " + options.address);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Fail("cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " + std::strerror(errno));
    if (::listen(listener, 16) != 0)
        Fail(std::string("listen: ") + std::strerror(errno));
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    Hold hold = StartHold(listener, address, options.hold);
    std::printf("listening on %s:%d\n", options.address.c_str(), ntohs(address.sin_port));

    if (options.background) {
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child < 0)
            Fail(std::string("fork: ") + std::strerror(errno));
        if (child > 0) {
            std::printf("%d\n", static_cast<int>(child));
            std::fflush(stdout);
            return 0;
        }
        ::setsid();
        // Nothing more goes to the caller's pipe, which may be waiting for its end.
        std::fclose(stdout);
    } else {
        std::fflush(stdout);
    }

    for (long long served = 0; options.count == 0 || served < options.count;) {
        EndHold(listener, hold);
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int fd = ::accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerLength);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            Fail(std::string("accept: ") + std::strerror(errno));
        }
        const double taken = Monotonic();
        ++served;
        char peerText[INET_ADDRSTRLEN] = "?";
        ::inet_ntop(AF_INET, &peer.sin_addr, peerText, sizeof peerText);
        std::fprintf(stderr, "connection %lld from %s:%d (%s) at %.6f\n", served, peerText, ntohs(peer.sin_port),
                     options.mode.c_str(), taken);
        const pid_t handler = ::fork();
        if (handler == 0) {
            ::close(listener);
            Options answer = options;
            if (options.lieFrom > 0 && served >= options.lieFrom)
                answer.offset += options.lieBy;
            Serve(fd, answer);
            ::_exit(0);
        }
        ::close(fd);
        if (handler < 0)
            Fail(std::string("fork: ") + std::strerror(errno));
        hold = StartHold(listener, address, options.hold);
    }
    // The last handlers finish on their own.
    return 0;
}
