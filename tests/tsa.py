#!/usr/bin/env python3
"""Local RFC 3161 timestamp authorities for the signing tests: openssl ts
behind HTTP on 127.0.0.1, on a port the system picks, written to PORT_FILE.
The path names the authority: /NAME answers with the authority DIR/NAME.cnf
describes; /silent takes the connection and never answers; /500 answers
HTTP 500; /garbage bytes that are no reply; /empty nothing; /replay a token
of the authority DIR/good.cnf for another file. A GET (a CRL fetched from a
certificate's distribution point) is never answered.
usage: tsa.py PORT_FILE DIR"""
import http.server, os, subprocess, sys, time

def reply(config, query):  # the configuration names its files relative to its folder
    return subprocess.run(["openssl", "ts", "-reply", "-config", os.path.basename(config), "-queryfile",
                           "/dev/stdin", "-out", "/dev/stdout"], input=query, capture_output=True,
                          cwd=os.path.dirname(config)).stdout

class Authority(http.server.BaseHTTPRequestHandler):
    log_message = lambda *arguments: None
    do_GET = lambda self: time.sleep(3600)
    def do_POST(self):
        name = self.path.strip("/")
        query = self.rfile.read(int(self.headers["Content-Length"]))
        if name == "silent":
            time.sleep(3600)
        if name == "500":
            return self.send_error(500)
        body = {"garbage": b"\x30\x03garbage", "empty": b""}.get(name)
        if body is None and name == "replay":
            other = subprocess.run(["openssl", "ts", "-query", "-digest", "00" * 32, "-sha256", "-cert"],
                                   capture_output=True).stdout
            body = reply(os.path.join(sys.argv[2], "good.cnf"), other)
        if body is None:
            body = reply(os.path.join(sys.argv[2], name + ".cnf"), query)
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
open(sys.argv[1], "w").write(str(server.server_port))
server.serve_forever()
