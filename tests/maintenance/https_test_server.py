#!/usr/bin/python3
"""An HTTPS server for the update tests. Makes a CA of its own and a
certificate for 127.0.0.1 in <folder> (with openssl), then serves the files
of <folder>/files on a free loopback port. Prints the port, then the CA
certificate's path."""
import functools
import http.server
import os
import ssl
import subprocess
import sys

folder = sys.argv[1]
os.makedirs(os.path.join(folder, "files"), exist_ok=True)
path = functools.partial(os.path.join, folder)
with open(path("ext.cnf"), "w") as ext:
    ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
for command in (["req", "-x509", *key, "-keyout", path("ca.key"), "-out", path("ca.pem"), "-days", "2",
                 "-subj", "/CN=Update Test CA"],
                ["req", *key, "-keyout", path("server.key"), "-out", path("server.csr"), "-subj", "/CN=127.0.0.1"],
                ["x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey", path("ca.key"),
                 "-CAcreateserial", "-out", path("server.pem"), "-days", "2", "-extfile", path("ext.cnf")]):
    subprocess.run(["openssl", *command], check=True, capture_output=True)


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass


context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(path("server.pem"), path("server.key"))
server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Handler, directory=path("files")))
server.daemon_threads = True
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
print(path("ca.pem"), flush=True)
server.serve_forever()
