#!/usr/bin/env python3
"""Loopback HTTP fixture for the HTTP client's cases.

Listens on 127.0.0.1 at a free port, prints the port on its first output line, and stops by
itself when its standard input closes (the driver that started it ended) or after a time
limit (--seconds, default 600).
"""
import http.server
import socketserver
import struct
import sys
import threading
import time
import zlib

COUNTS = {}
COUNTS_LOCK = threading.Lock()

SKIPPED = {"host", "accept", "accept-encoding", "connection", "content-length", "expect",
           "transfer-encoding"}


def png_2x1():
    """A 2x1 RGB PNG: one red and one blue pixel."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    header = struct.pack(">IIBBBBB", 2, 1, 8, 2, 0, 0, 0)
    pixels = zlib.compress(b"\x00\xff\x00\x00\x00\x00\xff")
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", pixels) +
            chunk(b"IEND", b""))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections open for reuse
    disable_nagle_algorithm = True  # headers and body go out at once, not 40 ms apart

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=(), raw=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers_raw(raw)
        if self.command != "HEAD":
            self.wfile.write(body)

    def end_headers_raw(self, raw):
        # Header lines written as they are, without the ": " send_header puts in.
        for line in raw:
            self._headers_buffer.append(line + b"\r\n")
        self.end_headers()

    def request_body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n) if n > 0 else b""

    def route(self):
        body = self.request_body()
        path = self.path.split("?", 1)[0]
        if path == "/hello":
            self.reply(200, b"hello", [("Content-Type", "text/plain; charset=utf-8")])
        elif path == "/picture":
            self.reply(200, png_2x1(), [("Content-Type", "Image/PNG; name=x")])
        elif path == "/values.txt":
            self.reply(200, b"1 2", [("Content-Type", "text/plain")])
        elif path == "/bytes":
            self.reply(200, bytes([0x00, 0xFF, 0x10]))
        elif path == "/lines":
            self.reply(200, b"a\r\nb\nc")
        elif path == "/cookies":
            self.reply(200, b"ok", [("Set-Cookie", "a=1"), ("Set-Cookie", "b=2")])
        elif path == "/redirect":
            self.reply(302, b"", [("Location", "/hello")])
        elif path == "/latin1":
            self.reply(200, bytes([0x63, 0x61, 0x66, 0xE9, 0x20, 0x21]))
        elif path == "/oddheaders":
            self.reply(200, b"ok", raw=[b"X-B:y", b"X-C:"])
        elif path == "/echo":
            lines = [self.command]
            for name, value in self.headers.items():
                if name.lower() not in SKIPPED:
                    lines.append(name + ": " + value)
            text = "\n".join(lines).encode("utf-8")
            if body:
                text += b"\n" + body
            self.reply(200, text)
        elif path == "/script":
            self.reply(200, b'Kel [Title: "remote"] 6 * 7', [("Content-Type", "text/plain")])
        elif path == "/info":
            self.reply(200, b'Kel [Title: "info"] reduce [system/script/header/Title '
                       b'system/script/path system/script/args]',
                       [("Content-Type", "text/plain")])
        elif path.startswith("/count/"):
            # "1", "2", ... per name: tells a cached copy from a new download.
            with COUNTS_LOCK:
                n = COUNTS[path] = COUNTS.get(path, 0) + 1
            self.reply(200, str(n).encode(), [("Content-Type", "text/plain")])
        elif path == "/one":
            self.reply(200, b"[5]", [("Content-Type", "text/plain")])
        elif path == "/endless":
            # A body with no length that never ends: 1 MB chunks until the client stops
            # reading, at most 4 GB or 60 seconds.
            self.send_response(200)
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = bytes(1 << 20)
            deadline = time.monotonic() + 60
            try:
                for _ in range(4096):
                    if time.monotonic() > deadline:
                        break
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True
        else:
            self.reply(404, b"no")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = do_OPTIONS = route

    def handle_one_request(self):
        # Any method name the client sends gets the same routes.
        try:
            super().handle_one_request()
        except AttributeError:
            pass

    def __getattr__(self, name):
        if name.startswith("do_"):
            return self.route
        raise AttributeError(name)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    seconds = 600.0
    if len(sys.argv) > 2 and sys.argv[1] == "--seconds":
        seconds = float(sys.argv[2])
    server = Server(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    stop = threading.Event()

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except OSError:
            pass
        stop.set()

    threading.Thread(target=watch_stdin, daemon=True).start()
    stop.wait(seconds)
    server.shutdown()


if __name__ == "__main__":
    main()
