#!/usr/bin/python3
"""An HTTPS server for the update tests: serves the files of <folder> on a
free loopback port (printed as the first line of its output) with the
certificate <cert> and its key <key>."""
import functools
import http.server
import ssl
import sys

folder, cert, key = sys.argv[1:4]


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=folder))
server.daemon_threads = True
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
