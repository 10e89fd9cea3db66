#!/usr/bin/env python3
"""A small web server that receives scans: prints each POST body and answers "succes".

Prints "listening on PORT" first. Each body is printed without its final zero
byte, as text (UTF-8, else GBK) and in hexadecimal. With --count N it ends
after N bodies.
"""
import argparse
import http.server
import sys


def as_text(body):
    for charset in ("utf-8", "gbk"):
        try:
            return body.decode(charset), charset
        except UnicodeDecodeError:
            pass
    return body.decode("latin-1"), "latin-1"


class Receiver(http.server.BaseHTTPRequestHandler):
    received = 0

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        scan = body[:-1] if body.endswith(b"\0") else body
        text, charset = as_text(scan)
        Receiver.received += 1
        print(f"POST #{Receiver.received} {self.path}: {text.rstrip()!r} ({charset}, "
              f"{len(body)} bytes: {body.hex(' ')})", flush=True)
        reply = b"succes"
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--count", type=int, default=0)
    args = parser.parse_args()
    server = http.server.HTTPServer(("127.0.0.1", args.port), Receiver)
    print(f"listening on {server.server_address[1]}", flush=True)
    while args.count == 0 or Receiver.received < args.count:
        server.handle_request()
    return 0


if __name__ == "__main__":
    sys.exit(main())
