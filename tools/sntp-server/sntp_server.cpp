// sntp-server: an NTP server (UDP, one answer per request) for tests, that
// tells the time with a chosen offset or misbehaves as asked: the answers a
// real server such as chrony will not give (kiss codes, an unsynchronised
// clock, answers to somebody else, packets of the wrong size).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "Usage: sntp-server [options]\n"
    "An NTP server (UDP, one answer per request) for testing Veltrane.\n"
    "\n"
    "  --address ADDR   IPv4 address to listen on (default 127.0.0.1)\n"
    "  --port N         port to listen on (default 123; 0 picks a free one)\n"
    "  --offset S       the answers are S seconds ahead of the true time\n"
    "                   (negative: behind; fractions allowed; default 0)\n"
    "  --stratum N      the stratum of good answers (default 1)\n"
    "  --mode M         normal   a good answer (default)\n"
    "                   rate, deny, rstr   the kiss code RATE, DENY or RSTR\n"
    "                   unsync   leap indicator 3 (not synchronised)\n"
    "                   spoof    an answer whose origin is not the request's\n"
    "                   short    a packet of 47 bytes; long: of 49\n"
    "                   silent   no answer\n"
    "  --tcp            the same packets over TCP instead: each 48-byte request on a\n"
    "                   connection is answered on it (slirp, for one, forwards UDP\n"
    "                   only inward: a guest's server is asked over TCP)\n"
    "  --background     once listening, go to the background; the parent prints\n"
    "                   the server's process id and exits\n"
    "  --help           this text\n"
    "\n"
    "Prints \"listening on ADDR:PORT\" once the socket listens, and one line per\n"
    "request on standard error. Port 123 needs root; try it in a private network\n"
    "namespace: unshare -r -n sh -c 'ip link set lo up; sntp-server --background; ...'\n";

struct Options {
    std::string address = "127.0.0.1";
    int port = 123;
    double offset = 0;
    int stratum = 1;
    std::string mode = "normal";
    bool background = false;
    bool tcp = false;
};

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "sntp-server: %s\n", message.c_str());
    std::exit(2);
}

double Number(const std::string& name, const char* text)
{
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value))
        Fail("invalid number for " + name + ": " + text);
    return value;
}

Options Parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (name == "--background" || name == "--tcp") {
            (name == "--tcp" ? options.tcp : options.background) = true;
            continue;
        }
        if (i + 1 >= argc)
            Fail("missing value for " + name);
        const char* value = argv[++i];
        if (name == "--address") {
            options.address = value;
        } else if (name == "--port") {
            const double port = Number(name, value);
            if (port < 0 || port > 65535 || port != std::floor(port))
                Fail(std::string("invalid port: ") + value);
            options.port = static_cast<int>(port);
        } else if (name == "--offset") {
            options.offset = Number(name, value);
        } else if (name == "--stratum") {
            options.stratum = static_cast<int>(Number(name, value));
        } else if (name == "--mode") {
            options.mode = value;
            bool known = false;
            for (const char* mode : {"normal", "rate", "deny", "rstr", "unsync", "spoof", "short", "long", "silent"})
                known = known || options.mode == mode;
            if (!known)
                Fail(std::string("unknown mode: ") + value);
        } else {
            Fail("unknown option " + name + "\n" + kUsage);
        }
    }
    return options;
}

void Put32(unsigned char* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// Now plus the offset, as an NTP timestamp.
void PutNow(unsigned char* at, double offset)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    double seconds = static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 + offset;
    const double whole = std::floor(seconds);
    Put32(at, static_cast<std::uint32_t>(static_cast<std::uint64_t>(static_cast<long long>(whole) + 2208988800LL)));
    Put32(at + 4, static_cast<std::uint32_t>(std::ldexp(seconds - whole, 32)));
}

// The answer to one request (its receipt's time taken first), in `reply`;
// its size, 0 for none.
std::size_t Answer(const Options& options, long count, const sockaddr_in& from, const unsigned char* request,
                   std::size_t got, unsigned char* reply)
{
    unsigned char received[8];
    PutNow(received, options.offset);
    const std::string& mode = options.mode;
    char peer[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &from.sin_addr, peer, sizeof peer);
    std::fprintf(stderr, "request %ld from %s:%d (%s)\n", count, peer, ntohs(from.sin_port), mode.c_str());
    if (mode == "silent" || got < 48)
        return 0;

    std::memset(reply, 0, 49);
    const bool kiss = mode == "rate" || mode == "deny" || mode == "rstr";
    const int leap = mode == "unsync" || kiss ? 3 : 0;
    const int version = (request[0] >> 3) & 0x07;
    reply[0] = static_cast<unsigned char>((leap << 6) | (version << 3) | 4);
    reply[1] = static_cast<unsigned char>(kiss ? 0 : options.stratum);
    reply[2] = request[2];
    reply[3] = static_cast<unsigned char>(-20);
    Put32(reply + 4, 0x00000010);  // root delay and dispersion: a quarter of a millisecond
    Put32(reply + 8, 0x00000010);
    std::memcpy(reply + 12, kiss ? (mode == "rate" ? "RATE" : mode == "deny" ? "DENY" : "RSTR") : "LOCL", 4);
    std::memcpy(reply + 16, received, 8);
    std::memcpy(reply + 24, request + 40, 8);  // the origin: the request's transmit time
    if (mode == "spoof")
        reply[31] ^= 0x01;
    std::memcpy(reply + 32, received, 8);
    PutNow(reply + 40, options.offset);
    return mode == "short" ? 47 : mode == "long" ? 49 : 48;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    const int fd = ::socket(AF_INET, (options.tcp ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (fd >= 0 && options.tcp)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(options.port));
    if (fd < 0 || ::inet_pton(AF_INET, options.address.c_str(), &address.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || (options.tcp && ::listen(fd, 4) != 0))
        Fail("cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " + std::strerror(errno));
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("listening on %s:%d\n", options.address.c_str(), ntohs(address.sin_port));
    std::fflush(stdout);
    if (options.background) {
        if (const pid_t child = ::fork(); child != 0) {
            std::printf("%d\n", static_cast<int>(child));
            return child < 0 ? 2 : 0;
        }
        ::setsid();
        std::fclose(stdout);
    }

    long count = 0;
    if (!options.tcp) {
        for (;;) {
            unsigned char request[512];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got =
                ::recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got < 0)
                continue;
            unsigned char reply[49];
            const std::size_t size = Answer(options, ++count, from, request, static_cast<std::size_t>(got), reply);
            if (size > 0)
                ::sendto(fd, reply, size, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const int connection = ::accept(fd, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (connection < 0)
            continue;
        const int one = 1;
        ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        unsigned char request[48];
        while (::recv(connection, request, sizeof request, MSG_WAITALL) == static_cast<ssize_t>(sizeof request)) {
            unsigned char reply[49];
            const std::size_t size = Answer(options, ++count, from, request, sizeof request, reply);
            if (size > 0 && ::send(connection, reply, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size))
                break;
        }
        ::close(connection);
    }
}
