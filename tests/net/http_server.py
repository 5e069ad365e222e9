#!/usr/bin/python3
"""A local web server for the transfer tests.

Files are served from --root. The first path segment can pick a misbehaviour:
  /hang/...      accept and read the request, never answer
  /half/...      promise 1000 bytes, send 100, then stall
  /cut/...       promise 1000 bytes, send 100, then close
  /redirect/...  answer 302 to --redirect-base followed by the rest of the path
  /slow/...      wait 3 s, then serve the rest of the path
Prints the port on the first line of stdout, then serves until stdin closes, so a test that
dies without stopping it does not leave it behind.
"""

import argparse
import http.server
import os
import select
import ssl
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def wait_for_client_to_leave(self):
        while True:
            readable, _, _ = select.select([self.connection], [], [], 1.0)
            if readable:
                try:
                    if not self.connection.recv(4096):
                        return
                except OSError:
                    return

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        first, _, rest = path.lstrip("/").partition("/")
        if first == "hang":
            self.wait_for_client_to_leave()
            self.close_connection = True
            return
        if first in ("half", "cut"):
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"x" * 100)
            self.wfile.flush()
            if first == "half":
                self.wait_for_client_to_leave()
            self.close_connection = True
            return
        if first == "redirect":
            self.send_response(302)
            self.send_header("Location", self.server.redirect_base + "/" + rest)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if first == "slow":
            time.sleep(3)
            path = "/" + rest
        name = os.path.normpath(os.path.join(self.server.root, path.lstrip("/")))
        if not name.startswith(self.server.root + os.sep) or not os.path.isfile(name):
            body = b"<html><body>Not found</body></html>"
            self.send_response(404)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        with open(name, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--redirect-base", default="")
    args = parser.parse_args()

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.root = os.path.realpath(args.root)
    server.redirect_base = args.redirect_base
    # clients that refuse the certificate or hang up are part of the tests, not faults
    server.handle_error = lambda request, address: None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        # the handshake happens on first read, in the connection's own thread
        server.socket = context.wrap_socket(
            server.socket, server_side=True, do_handshake_on_connect=False)

    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    sys.stdin.read()
    os._exit(0)


if __name__ == "__main__":
    main()
