#!/usr/bin/env python3
"""HTTPS server for download tests, on 127.0.0.1 only.

Usage: https_server.py FOLDER WORKDIR

Makes a throwaway certificate authority and a server certificate for 127.0.0.1 in WORKDIR
(WORKDIR/ca.crt is what a client must trust), binds a free port and writes its number to
WORKDIR/port once the socket listens. Ends when its parent goes away.

Paths (NAME is a file in FOLDER):
  /file/NAME           the file, with a strong ETag (from its content) and Last-Modified; a
                       Range request gets 206 with the rest, 416 past the end, or the whole
                       file (200) when its If-Range names neither current validator
  /dated/NAME          the same with Last-Modified as the only validator
  /norange/NAME        the file whole (200) whatever the request asks for
  /redirect-http/NAME  302 to the same file over plain http
  /short/NAME          Content-Length of the whole file, then only half of it, then close
  /slow/NAME           like /file/NAME, with a pause of 3 seconds half-way through the body
  anything else        404

A whole file sent in answer to a Range request starts with one byte, then waits up to 10
seconds for the client to close the connection, as curl does when it cannot resume: such a
refused answer counts as one byte sent.

One-shot controls, each used by the next request for NAME and then removed:
  WORKDIR/NAME.cut     a number N: the body stops after N bytes and the connection closes
  WORKDIR/NAME.416     a Range request is answered 416 whatever it asks for

WORKDIR/sent.log gets a line "NAME STATUS BYTES" before each piece of a body is sent.
"""

import email.utils
import hashlib
import http.server
import os
import re
import select
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


LOCK = threading.Lock()
CHUNK = 1 << 18


def take_control(name, kind):
    """The content of the one-shot control WORKDIR/NAME.KIND, removing it; None without one."""
    path = os.path.join(WORKDIR, name + "." + kind)
    with LOCK:
        try:
            with open(path) as f:
                value = f.read().strip()
        except FileNotFoundError:
            return None
        os.remove(path)
        return value


def record_sent(name, status, count):
    with LOCK:
        with open(os.path.join(WORKDIR, "sent.log"), "a") as log:
            log.write(f"{name} {status} {count}\n")


TAGS = {}


def entity_tag(path):
    status = os.stat(path)
    key = (path, status.st_mtime_ns, status.st_size)
    with LOCK:
        if key in TAGS:
            return TAGS[key]
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(1 << 20), b""):
            digest.update(piece)
    tag = '"' + digest.hexdigest()[:24] + '"'
    with LOCK:
        TAGS[key] = tag
    return tag


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def file_path(self, name):
        path = os.path.join(FOLDER, name)
        if "/" in name or not os.path.isfile(path):
            return None
        return path

    def not_found(self):
        body = b"not found\n"
        self.send_response(404)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def client_closed(self, seconds):
        """Waits up to `seconds` for the client to close the connection; whether it did."""
        readable, _, _ = select.select([self.connection], [], [], seconds)
        if not readable:
            return False
        try:
            return self.connection.recv(1) == b""
        except (OSError, ValueError):
            return True

    def send_body(self, name, status, path, start, length, cut, pause):
        half = length // 2
        sent = 0
        with open(path, "rb") as f:
            f.seek(start)
            while sent < length:
                step = min(CHUNK, length - sent)
                if cut is not None:
                    step = min(step, cut - sent)
                if pause and sent < half:
                    step = min(step, half - sent)
                if step <= 0:
                    break
                piece = f.read(step)
                record_sent(name, status, len(piece))
                self.wfile.write(piece)
                sent += len(piece)
                if pause and sent == half:
                    self.wfile.flush()
                    time.sleep(3)
        self.wfile.flush()
        if cut is not None and sent < length:
            self.close_connection = True

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
        path = self.file_path(name) if mode in ("file", "dated", "norange", "short", "slow") else None
        if path is None:
            self.not_found()
            return
        size = os.path.getsize(path)
        etag = entity_tag(path) if mode != "dated" else None
        modified = email.utils.formatdate(os.path.getmtime(path), usegmt=True)
        cut = take_control(name, "cut")
        cut = int(cut) if cut is not None else None
        if mode == "short":
            cut = size // 2

        asked = self.headers.get("Range")
        start = None
        if asked is not None and mode in ("file", "dated", "slow"):
            if take_control(name, "416") is not None:
                start = size
            else:
                match = re.fullmatch(r"bytes=(\d+)-", asked.strip())
                condition = self.headers.get("If-Range")
                if match and (condition is None or condition in (etag, modified)):
                    start = int(match.group(1))
        if start is not None and start >= size:
            self.send_response(416)
            self.send_header("Content-Range", f"bytes */{size}")
            self.send_header("Content-Length", "0")
            self.end_headers()
            record_sent(name, 416, 0)
            return

        status = 206 if start is not None else 200
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if etag:
            self.send_header("ETag", etag)
        self.send_header("Last-Modified", modified)
        if start is not None:
            self.send_header("Content-Range", f"bytes {start}-{size - 1}/{size}")
            self.send_header("Content-Length", str(size - start))
        else:
            start = 0
            self.send_header("Content-Length", str(size))
        if cut is not None:
            self.send_header("Connection", "close")
        self.end_headers()
        if status == 200 and asked is not None and size > 0 and cut is None:
            # A client that asked for a range sees the whole file from its first byte on.
            self.send_body(name, status, path, 0, 1, None, False)
            if self.client_closed(10):
                self.close_connection = True
                return
            start = 1
        self.send_body(name, status, path, start, size - start, cut, mode == "slow")


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
