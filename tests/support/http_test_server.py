#!/usr/bin/python3
"""A small HTTP/1.1 server for tests: serves the files of <folder>/files on a
free loopback port, printed as the first line of its output.

  /<name>           the file, with Content-Length
  /slow/<name>      the file in 1 KiB pieces, 50 ms apart
  /nolength/<name>  the file without Content-Length (the connection closes)
  anything else     404 Not Found

A request for an absolute URL (as an HTTP proxy receives it) is answered the
same way. Every request line is appended to <folder>/requests.log, proxied
ones marked "PROXY".
"""
import http.server
import os
import sys
import time
import urllib.parse

FOLDER = sys.argv[1]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        proxied = self.path.startswith("http://")
        path = urllib.parse.urlsplit(self.path).path
        with open(os.path.join(FOLDER, "requests.log"), "a", encoding="utf-8") as log:
            log.write(("PROXY " if proxied else "GET ") + self.path + "\n")
        mode, _, rest = path.lstrip("/").partition("/")
        if mode not in ("slow", "nolength") or not rest:
            mode, rest = "", path.lstrip("/")
        file = os.path.join(FOLDER, "files", rest)
        if not rest or ".." in rest.split("/") or not os.path.isfile(file):
            body = b"<html><body>not found</body></html>"
            self.send_response(404, "Not Found")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        with open(file, "rb") as f:
            data = f.read()
        self.send_response(200)
        if mode == "nolength":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        try:
            if mode == "slow":
                for start in range(0, len(data), 1024):
                    self.wfile.write(data[start:start + 1024])
                    self.wfile.flush()
                    time.sleep(0.05)
            else:
                self.wfile.write(data)
        except OSError:
            self.close_connection = True


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
print(server.server_address[1], flush=True)
server.serve_forever()
