#!/usr/bin/env python3
"""HTTPS server for download tests, on 127.0.0.1 only.

Usage: https_server.py FOLDER WORKDIR

Makes a throwaway certificate authority and a server certificate for 127.0.0.1 in WORKDIR
(WORKDIR/ca.crt is what a client must trust), binds a free port and writes its number to
WORKDIR/port once the socket listens. Ends when its parent goes away.

Paths (NAME is a file in FOLDER):
  /file/NAME           the file; 404 when it does not exist
  /redirect-http/NAME  302 to the same file over plain http
  /short/NAME          Content-Length of the whole file, then only half of it, then close
  /slow/NAME           half the file, a pause of 3 seconds, then the rest
  anything else        404
"""

import http.server
import os
import ssl
import subprocess
import sys
import threading
import time

FOLDER, WORKDIR = sys.argv[1], sys.argv[2]


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], cwd=WORKDIR, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates():
    curve = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *curve, "-keyout", "ca.key", "-out", "ca.crt", "-days", "2",
            "-subj", "/CN=Throwaway test CA",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", *curve, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    with open(os.path.join(WORKDIR, "server.ext"), "w") as ext:
        ext.write("subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
                  "extendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "server.crt", "-days", "2", "-extfile", "server.ext")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def content(self, name):
        path = os.path.join(FOLDER, name)
        if "/" in name or not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def not_found(self):
        body = b"not found\n"
        self.send_response(404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.split("/", 2)
        mode, name = (parts[1], parts[2]) if len(parts) == 3 else ("", "")
        if mode == "redirect-http":
            port = self.server.server_address[1]
            self.send_response(302)
            self.send_header("Location", f"http://127.0.0.1:{port}/file/{name}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        data = self.content(name) if mode in ("file", "short", "slow") else None
        if data is None:
            self.not_found()
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        if mode == "short":
            self.send_header("Connection", "close")
        self.end_headers()
        half = len(data) // 2
        if mode == "file":
            self.wfile.write(data)
        elif mode == "short":
            self.wfile.write(data[:half])
            self.wfile.flush()
            self.close_connection = True
        else:
            self.wfile.write(data[:half])
            self.wfile.flush()
            time.sleep(3)
            self.wfile.write(data[half:])


def watch_parent(parent):
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    parent = os.getppid()
    make_certificates()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(WORKDIR, "server.crt"), os.path.join(WORKDIR, "server.key"))
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=watch_parent, args=(parent,), daemon=True).start()
    port_file = os.path.join(WORKDIR, "port")
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
