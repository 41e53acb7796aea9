#!/usr/bin/env python3
"""https-date-server: an HTTPS server for testing Veltrane's HTTPS Date checks.

Answers every HEAD or GET with 204 and a Date header: the true time, shifted
by --offset seconds, or the text of --date as given. Listens on 127.0.0.1;
run it in a private network namespace (unshare -r -n), never facing a
network. Prints "listening on 127.0.0.1:PORT" once listening; with
--background it then goes on in the background and prints its process id.
"""
import argparse
import email.utils
import http.server
import os
import ssl
import sys
import time


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="port (0: a free one)")
    parser.add_argument("--cert", required=True, help="the server's certificate (PEM)")
    parser.add_argument("--key", required=True, help="its private key (PEM)")
    parser.add_argument("--offset", type=float, default=0, help="the Date is this many seconds ahead")
    parser.add_argument("--date", help="send this Date text as it stands")
    parser.add_argument("--no-date", action="store_true", help="send no Date at all")
    parser.add_argument("--background", action="store_true", help="go on in the background once listening")
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
