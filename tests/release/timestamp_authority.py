"""An RFC 3161 time-stamping server on the loopback address, for the signing tests:

    timestamp_authority.py FOLDER CERTIFICATE KEY

openssl ts answers each request, signed with CERTIFICATE and KEY. Once it listens, the server
writes its port to FOLDER/port, and to FOLDER/closed-port a port that nothing listens on, for a
server that cannot be reached. It ends when the process that started it has ended, so that a test
that dies leaves nothing running.
"""

import http.server
import os
import socket
import subprocess
import sys

folder, certificate, key = sys.argv[1:4]
config = os.path.join(folder, "tsa.cnf")
with open(config, "w", encoding="utf-8") as out:
    out.write(f"""[tsa]
default_tsa = test_tsa
[test_tsa]
serial = {folder}/serial
crypto_device = builtin
signer_cert = {certificate}
signer_key = {key}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512, sha1
accuracy = secs:1
ess_cert_id_alg = sha256
""")
with open(os.path.join(folder, "serial"), "w", encoding="utf-8") as out:
    out.write("01\n")


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin",
             "-out", "/dev/stdout"], input=query, capture_output=True, check=False)
        ok = reply.returncode == 0 and reply.stdout
        self.send_response(200 if ok else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)
        if not ok:
            sys.stderr.write(reply.stderr.decode(errors="replace"))


def write(name, text):
    path = os.path.join(folder, name)
    with open(path + ".part", "w", encoding="utf-8") as out:
        out.write(text)
    os.rename(path + ".part", path)


with socket.socket() as closed:
    closed.bind(("127.0.0.1", 0))
    closed_port = closed.getsockname()[1]
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
server.timeout = 1
write("closed-port", str(closed_port))
write("port", str(server.server_address[1]))
parent = os.getppid()
while os.getppid() == parent:
    server.handle_request()
