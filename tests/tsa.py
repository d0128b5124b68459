#!/usr/bin/env python3
"""A local RFC 3161 timestamp authority for the signing tests: openssl ts
behind HTTP on 127.0.0.1, on a port the system picks, written to PORT_FILE.
With "silent" it takes connections and never answers.
usage: tsa.py PORT_FILE (CONFIG | silent)"""
import http.server, subprocess, sys, time

class Authority(http.server.BaseHTTPRequestHandler):
    log_message = lambda *arguments: None
    def do_POST(self):
        if sys.argv[2] == "silent":
            time.sleep(3600)
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[2], "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
open(sys.argv[1], "w").write(str(server.server_port))
server.serve_forever()
