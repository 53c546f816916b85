#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamping server for the package test, on 127.0.0.1.

    tsa_responder.py <openssl ts config> <port file>

Listens on a free port, writes its number into the port file once it accepts connections,
and answers every POST to "/" with the reply of `openssl ts -reply -config <config>` (section
[tsa] of the config names the key, certificate and policy). Any other path answers 503, as a
server that is down would, so that a test can name it first and see the next one used. Every
request is logged on stderr.
"""
import http.server
import os
import subprocess
import sys
import tempfile


class Responder(http.server.BaseHTTPRequestHandler):
    config = None

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path != "/":
            # Status and headers only: the client hangs up as soon as it reads the status.
            self.send_response(503)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with tempfile.TemporaryDirectory() as folder:
            query_file = os.path.join(folder, "query.tsq")
            reply_file = os.path.join(folder, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            result = subprocess.run(["openssl", "ts", "-reply", "-config", self.config,
                                     "-queryfile", query_file, "-out", reply_file],
                                    capture_output=True, text=True)
            if result.returncode != 0:
                self.send_error(500, result.stderr.strip().splitlines()[-1] if result.stderr else "")
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: tsa_responder.py <openssl ts config> <port file>")
    Responder.config, port_file = sys.argv[1:]
    server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
    # Written whole at once, so that a reader never sees half a number.
    with open(port_file + ".part", "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(port_file + ".part", port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
