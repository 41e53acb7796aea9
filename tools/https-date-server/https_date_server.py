#!/usr/bin/env python3
"""https-date-server: an HTTPS server for testing Veltrane's HTTPS Date checks.

Answers every HEAD or GET with 204 and a Date header: the true time, shifted
by --offset seconds, or the text of --date as given. Listens on 127.0.0.1;
run it in a private network namespace (unshare -r -n), never facing a
network. Prints "listening on 127.0.0.1:PORT" once listening; with
--background it then goes on in the background and prints its process id.

With --proxy LOG it is a web proxy instead (plain HTTP, no certificate
used): each CONNECT HOST:PORT is tunnelled to 127.0.0.1:PORT, whatever the
HOST, and "HOST:PORT" appended to LOG.
"""
import argparse
import email.utils
import http.server
import os
import socket
import socketserver
import ssl
import sys
import threading
import time


def relay(source, sink):
    try:
        while data := source.recv(65536):
            sink.sendall(data)
    except OSError:
        pass
    for end in (source, sink):
        try:
            end.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def proxy_handler(log):
    class Tunnel(socketserver.BaseRequestHandler):
        def handle(self):
            head = b""
            while b"\r\n\r\n" not in head:
                chunk = self.request.recv(4096)
                if not chunk:
                    return
                head += chunk
            request, rest = head.split(b"\r\n\r\n", 1)
            method, target = request.split(b"\r\n", 1)[0].decode("latin-1").split(" ")[:2]
            if method != "CONNECT":
                self.request.sendall(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
                return
            with open(log, "a", encoding="utf-8") as tunnels:
                tunnels.write(target + "\n")
            try:
                upstream = socket.create_connection(("127.0.0.1", int(target.rsplit(":", 1)[1])))
            except (OSError, ValueError):
                self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                return
            with upstream:
                self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                if rest:
                    upstream.sendall(rest)
                back = threading.Thread(target=relay, args=(upstream, self.request), daemon=True)
                back.start()
                relay(self.request, upstream)
                back.join()

    return Tunnel


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="port (0: a free one)")
    parser.add_argument("--cert", required=True, help="the server's certificate (PEM)")
    parser.add_argument("--key", required=True, help="its private key (PEM)")
    parser.add_argument("--offset", type=float, default=0, help="the Date is this many seconds ahead")
    parser.add_argument("--date", help="send this Date text as it stands")
    parser.add_argument("--no-date", action="store_true", help="send no Date at all")
    parser.add_argument("--background", action="store_true", help="go on in the background once listening")
    parser.add_argument("--proxy", metavar="LOG", help="be a CONNECT proxy to 127.0.0.1 instead, noting each in LOG")
    options = parser.parse_args()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def date_time_string(self, timestamp=None):
            if options.date is not None:
                return options.date
            return email.utils.formatdate(time.time() + options.offset, usegmt=True)

        def send_header(self, keyword, value):
            if keyword.lower() == "date" and options.no_date:
                return
            super().send_header(keyword, value)

        def answer(self):
            self.send_response(204)
            self.send_header("Content-Length", "0")
            self.end_headers()

        do_HEAD = answer
        do_GET = answer

        def log_message(self, format, *args):
            sys.stderr.write("request %s\n" % (format % args))

    if options.proxy:
        server = socketserver.ThreadingTCPServer(("127.0.0.1", options.port), proxy_handler(options.proxy))
        server.daemon_threads = True
    else:
        server = http.server.ThreadingHTTPServer(("127.0.0.1", options.port), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        server.daemon_threads = True
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    if options.background:
        child = os.fork()
        if child:
            print(child, flush=True)
            os._exit(0)
        os.setsid()
        devnull = os.open(os.devnull, os.O_RDWR)
        os.dup2(devnull, 0)
        os.dup2(devnull, 1)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
