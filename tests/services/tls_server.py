#!/usr/bin/env python3
"""TLS servers on loopback for the HTTP client's certificate tests and the
update tests.

Usage: tls_server.py WORKDIR

Makes two self-signed server certificates for 127.0.0.1 and localhost and
serves HTTPS on two ephemeral ports of 127.0.0.1, one with each. The test
trusts the second one by adding it to the user's trusted roots; the first it
never trusts. (Wine refuses a leaf issued by a test CA with 12057, because
its revocation cannot be checked, so the trusted certificate is itself the
root.) A third port, with the trusted certificate, is a relay: it ends TLS
and passes the bytes on to the plain HTTP server on the loopback port that
WORKDIR/backend names when the connection is made, so a test's scripted
server is reached over real TLS. When all listen, WORKDIR/ready holds
"STRANGERPORT TRUSTEDPORT RELAYPORT" and WORKDIR/trusted.der the trusted
certificate. The servers end when WORKDIR/stop appears or WORKDIR goes, or
after LIFETIME seconds (the first argument after WORKDIR, default 300).

  /redirect?to=URL   302 to URL
  anything else      200 "tls-ok"
"""
import http.server
import os
import select
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

LIFETIME = 300


def openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certificates(work):
    names = "subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1"
    key = ["-newkey", "rsa:2048", "-nodes"]
    for name in ("stranger", "trusted"):
        openssl("req", "-x509", *key, "-keyout", name + ".key", "-out", name + ".pem", "-days", "2",
                "-subj", "/O=Tollbrook tests/CN=" + name, "-addext", names,
                "-addext", "extendedKeyUsage=serverAuth", cwd=work)
    openssl("x509", "-in", "trusted.pem", "-outform", "DER", "-out", "trusted.der.tmp", cwd=work)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        query = urllib.parse.urlparse(self.path)
        if query.path == "/redirect":
            target = urllib.parse.parse_qs(query.query).get("to", ["/"])[0]
            self.answer(302, b"moved", [("Location", target)])
        else:
            self.answer(200, b"tls-ok")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or 0)
        self.rfile.read(length)
        self.answer(200, b"tls-ok")

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


def serve(work, certificate, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(work, certificate), os.path.join(work, key))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def pass_on(client, backend):
    """Copies bytes both ways until either side closes."""
    pair = {client: backend, backend: client}
    try:
        while True:
            ready = [client] if client.pending() else select.select(list(pair), [], [], 1.0)[0]
            for source in ready:
                data = source.recv(65536)
                if not data:
                    return
                pair[source].sendall(data)
    except (OSError, ssl.SSLError):
        pass
    finally:
        for side in pair:
            try:
                side.close()
            except OSError:
                pass


def relay_connection(work, context, raw):
    try:
        client = context.wrap_socket(raw, server_side=True)
        with open(os.path.join(work, "backend")) as backend_file:
            port = int(backend_file.read().strip())
        backend = socket.create_connection(("127.0.0.1", port))
    except (OSError, ValueError, ssl.SSLError):
        raw.close()
        return
    pass_on(client, backend)


def relay(work, certificate, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(work, certificate), os.path.join(work, key))
    listener = socket.create_server(("127.0.0.1", 0))

    def accept():
        while True:
            raw, _ = listener.accept()
            threading.Thread(target=relay_connection, args=(work, context, raw), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return listener.getsockname()[1]


def main():
    work = sys.argv[1]
    lifetime = int(sys.argv[2]) if len(sys.argv) > 2 else LIFETIME
    make_certificates(work)
    stranger = serve(work, "stranger.pem", "stranger.key")
    trusted = serve(work, "trusted.pem", "trusted.key")
    relay_port = relay(work, "trusted.pem", "trusted.key")
    os.replace(os.path.join(work, "trusted.der.tmp"), os.path.join(work, "trusted.der"))
    with open(os.path.join(work, "ready.tmp"), "w") as ready:
        ready.write(f"{stranger.server_address[1]} {trusted.server_address[1]} {relay_port}\n")
    os.replace(os.path.join(work, "ready.tmp"), os.path.join(work, "ready"))
    deadline = time.monotonic() + lifetime
    stop = os.path.join(work, "stop")
    while time.monotonic() < deadline and os.path.isdir(work) and not os.path.exists(stop):
        time.sleep(0.1)


if __name__ == "__main__":
    main()
