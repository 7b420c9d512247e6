#!/usr/bin/env python3
"""A fast static server on 127.0.0.1 for the benchmark: HTTP/1.1 with persistent connections,
files sent with sendfile(2), and X.gz sent for X (Content-Encoding: gzip) when the client accepts
gzip and the .gz exists, as a static server serving precompressed files does. Counts connections
and body bytes sent, reported by GET /__stats (and reset by GET /__reset).

    serve.py DIR PORT_FILE     # writes the port it listens on into PORT_FILE"""
import http.server
import os
import socket
import sys
import threading

STATS = {"connections": 0, "bytes": 0}
LOCK = threading.Lock()


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        super().setup()
        # Headers and body go out in separate writes: without this, Nagle's algorithm and the
        # client's delayed acknowledgement hold every small response back for 40 ms.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with LOCK:
            STATS["connections"] += 1

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path in ("/__stats", "/__reset"):
            with LOCK:
                body = f"{STATS['connections']} {STATS['bytes']}\n".encode()
                if self.path == "/__reset":
                    STATS["connections"] = STATS["bytes"] = 0
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        path = self.translate_path(self.path)
        encoding = None
        if "gzip" in self.headers.get("Accept-Encoding", "") and os.path.isfile(path + ".gz"):
            path, encoding = path + ".gz", "gzip"
        if not os.path.isfile(path):
            self.send_error(404)
            return
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(size))
        if encoding:
            self.send_header("Content-Encoding", encoding)
        self.end_headers()
        self.wfile.flush()
        with open(path, "rb") as source:
            sent = 0
            while sent < size:
                sent += os.sendfile(self.connection.fileno(), source.fileno(), sent, size - sent)
        with LOCK:
            STATS["bytes"] += size


def main():
    directory, port_file = sys.argv[1], sys.argv[2]
    handler = lambda *a, **k: Handler(*a, directory=directory, **k)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with open(port_file, "w") as out:
        out.write(str(server.server_address[1]))
    server.serve_forever()


if __name__ == "__main__":
    main()
