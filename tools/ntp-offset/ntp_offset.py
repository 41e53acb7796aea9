#!/usr/bin/env python3
"""ntp-offset: how far an NTP server's clock is from this machine's, and how
precisely that is known. It only reads clocks: it never sets one.

Sends --count requests to HOST:PORT, --gap seconds apart, and keeps the answer
of least delay. For that answer, with t1 our sending, t2 the server's receipt,
t3 its sending and t4 our receipt, the server's clock is

    offset = ((t2 - t1) + (t3 - t4)) / 2

ahead of ours, to within half its delay, (t4 - t1) - (t3 - t2), whatever the
two ways took: the server read its clock between our sending and our receipt.
Prints one line:

    offset_ms bound_ms delay_ms answers

(the server's clock ahead of ours: positive; three decimals). An answer that
does not echo our request's transmit time, or that is not 48 bytes or more,
is not counted. Exits 1 when no answer came. With --tcp the same packets go
over one TCP connection (as tools/sntp-server --tcp answers them).
"""
import argparse
import os
import socket
import struct
import sys
import time

NTP_EPOCH = 2208988800  # seconds from 1900 to 1970


def from_ntp(raw, near_ns):
    """The timestamp in nanoseconds since 1970, in the era nearest near_ns."""
    seconds, fraction = struct.unpack("!II", raw)
    ns = ((seconds - NTP_EPOCH) * 1_000_000_000) + ((fraction * 1_000_000_000) >> 32)
    era = 1 << 32
    while ns - near_ns > era * 500_000_000:
        ns -= era * 1_000_000_000
    while near_ns - ns > era * 500_000_000:
        ns += era * 1_000_000_000
    return ns


def receive(sock, tcp):
    """One answer: over UDP a datagram, over TCP the next 48 bytes."""
    if not tcp:
        return sock.recvfrom(512)[0]
    reply = b""
    while len(reply) < 48:
        more = sock.recv(48 - len(reply))
        if not more:
            raise ConnectionResetError("closed")
        reply += more
    return reply


def ask(sock, address, tcp):
    """One exchange: (offset_ns, delay_ns), or None."""
    # The transmit time is random bytes rather than our clock (as a client
    # that hides its clock does): only its echo matters.
    transmit = os.urandom(8)
    request = bytes([0x23]) + bytes(39) + transmit  # version 4, client
    t1 = time.time_ns()
    if tcp:
        sock.sendall(request)
    else:
        sock.sendto(request, address)
    while True:
        try:
            reply = receive(sock, tcp)
        except (socket.timeout, ConnectionError):
            return None
        t4 = time.time_ns()
        if len(reply) >= 48 and reply[24:32] == transmit:
            break
    t2 = from_ntp(reply[32:40], t1)
    t3 = from_ntp(reply[40:48], t1)
    return ((t2 - t1) + (t3 - t4)) / 2, (t4 - t1) - (t3 - t2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--count", type=int, default=8)
    parser.add_argument("--gap", type=float, default=0.1)
    parser.add_argument("--timeout", type=float, default=2.0)
    parser.add_argument("--tcp", action="store_true")
    options = parser.parse_args()
    address = (options.host, options.port)
    try:
        if options.tcp:
            sock = socket.create_connection(address, timeout=options.timeout * 5)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        else:
            sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    except OSError as error:
        print("ntp-offset: %s:%d: %s" % (options.host, options.port, error), file=sys.stderr)
        return 1
    sock.settimeout(options.timeout)
    samples = []
    for i in range(options.count):
        if i:
            time.sleep(options.gap)
        sample = ask(sock, address, options.tcp)
        if sample is not None:
            samples.append(sample)
    if not samples:
        print("ntp-offset: no answer from %s:%d" % (options.host, options.port), file=sys.stderr)
        return 1
    offset, delay = min(samples, key=lambda sample: sample[1])
    print("%.3f %.3f %.3f %d" % (offset / 1e6, max(delay, 0) / 2e6, delay / 1e6, len(samples)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
