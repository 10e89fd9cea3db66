#!/usr/bin/env python3
"""A small HTTP(S) server for the delivery tests.

Prints its port on the first line of stdout, then serves until killed. Every
request is appended to LOG as a block:

    METHOD <verb>
    PATH <path>
    CLIENT <address>:<port>     (the connection it came over)
    HEADER <name>: <value>      (one line per header, names lower-cased)
    BODY <hex of the body>
    END

Replies by path:
    /reply?text=<percent-encoded bytes>   200 with those bytes as the body
    /status/<code>?text=<...>             that status with those bytes
    /redirect?text=<...>                  302 to /reply with the same text
    /stall                                headers, one byte, then silence
    /hang                                 reads the request, never answers
    /loop                                 307 to itself, for ever
    /to?url=<percent-encoded url>         307 to that url
    /endless                              200 with a body that never ends
"""
import argparse
import http.server
import ssl
import sys
import threading
import time
import urllib.parse

LOG_LOCK = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, body):
        lines = ["METHOD " + self.command, "PATH " + self.path,
                 "CLIENT %s:%d" % self.client_address[:2]]
        for name, value in self.headers.items():
            lines.append("HEADER %s: %s" % (name.lower(), value))
        lines.append("BODY " + body.hex())
        lines.append("END")
        with LOG_LOCK, open(self.server.log_path, "a") as log:
            log.write("\n".join(lines) + "\n")

    def reply(self, status, body, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def handle_any(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length else b""
        self.record(body)
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True, encoding="latin-1")
        text = query.get("text", [""])[0].encode("latin-1")
        if url.path == "/reply":
            self.reply(200, text)
        elif url.path.startswith("/status/"):
            self.reply(int(url.path.split("/")[2]), text)
        elif url.path == "/redirect":
            self.reply(302, b"", [("Location", "/reply?" + url.query)])
        elif url.path == "/hang":
            time.sleep(3600)
        elif url.path == "/loop":
            self.reply(307, b"", [("Location", self.path)])
        elif url.path == "/to":
            self.reply(307, b"", [("Location", query.get("url", [""])[0])])
        elif url.path == "/endless":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.end_headers()
            chunk = b"x" * 65536
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True
        elif url.path == "/stall":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"s")
            self.wfile.flush()
            time.sleep(30)
        else:
            self.reply(404, b"not found")

    do_GET = do_POST = do_PUT = handle_any


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("log")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--port", type=int, default=0)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    server.log_path = args.log
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
