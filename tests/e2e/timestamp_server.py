"""An RFC 3161 timestamp server on the loopback, for the signing test: there is no network here,
and osslsigncode 2.5 (Debian 12's) has no timestamping of its own, only a server's URL. Each
request is answered by `openssl ts -reply` with the test's throwaway timestamping key.

    timestamp_server.py OPENSSL_TS_CONFIG PORT_FILE

It listens on a free port of 127.0.0.1 and writes that port to PORT_FILE once it listens.
"""
import http.server
import os
import subprocess
import sys

config, port_file = sys.argv[1], sys.argv[2]


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        query = self.rfile.read(min(length, 1 << 16))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", config,
             "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
            input=query, capture_output=True, check=False)
        if reply.returncode != 0:
            sys.stderr.write(reply.stderr.decode(errors="replace"))
            self.send_error(500)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, format, *args):  # pylint: disable=redefined-builtin
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
# Written whole, then renamed: the test reads the file as soon as it appears.
with open(port_file + ".tmp", "w", encoding="ascii") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
