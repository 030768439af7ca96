#!/usr/bin/env python3
"""A stand-in for the upload appliance, for the manager's tests.

Serves HTTP on a loopback port it chooses and prints that port on the first
line of its standard output. Each PUT is recorded as one line of
FOLDER/log, "<path> <query> <length> <sha256>", written once the body has
been read, and its body is kept as FOLDER/<n>.body (n from 1) unless
--discard is given. Every request also leaves a line in FOLDER/requests,
"<path> <declared length or ->", as soon as its header has arrived, whatever
becomes of its body.

  --answer CODE  answer every PUT with that status (default 200); a 3xx
                 answer sends the client to https:// on the same host and path
  --drop         close the connection after reading half of each body (left to
                 itself, Qt sends such a request again once, without its body)
  --hold         before reading the first body, create FOLDER/held and wait
                 until FOLDER/release exists
  --discard      keep only the log line, not the body
"""
import argparse
import hashlib
import http.server
import os
import sys
import threading
import time

CHUNK = 1 << 16


class Recorder:
    def __init__(self, folder, discard):
        self.folder = folder
        self.discard = discard
        self.lock = threading.Lock()
        self.count = 0
        self.first_taken = False

    def take_first(self):
        with self.lock:
            first = not self.first_taken
            self.first_taken = True
            return first

    def next_body(self):
        with self.lock:
            self.count += 1
            return os.path.join(self.folder, "%d.body" % self.count)

    def log(self, line, name="log"):
        with self.lock:
            with open(os.path.join(self.folder, name), "a") as log:
                log.write(line + "\n")


def make_handler(options, recorder):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_PUT(self):
            first = recorder.take_first()
            if first and options.hold:
                open(os.path.join(options.folder, "held"), "w").close()
                release = os.path.join(options.folder, "release")
                while not os.path.exists(release):
                    time.sleep(0.02)
            length = int(self.headers.get("Content-Length", "-1"))
            path, _, query = self.path.partition("?")
            recorder.log("%s %s" % (path, length if length >= 0 else "-"), "requests")
            if length < 0:
                self.send_error(411)
                return
            limit = length // 2 if options.drop else length
            digest = hashlib.sha256()
            body = None if options.discard else open(recorder.next_body(), "wb")
            left = limit
            while left > 0:
                data = self.rfile.read(min(CHUNK, left))
                if not data:
                    break
                digest.update(data)
                if body:
                    body.write(data)
                left -= len(data)
            if body:
                body.close()
            if options.drop:
                self.close_connection = True
                self.connection.shutdown(2)
                return
            recorder.log("%s %s %d %s" % (path, query, limit - left, digest.hexdigest()))
            payload = b"{}"
            self.send_response(options.answer)
            if 300 <= options.answer < 400:
                host = self.headers.get("Host", "")
                self.send_header("Location", "https://%s%s" % (host, self.path))
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            self.wfile.write(payload)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--answer", type=int, default=200)
    parser.add_argument("--drop", action="store_true")
    parser.add_argument("--hold", action="store_true")
    parser.add_argument("--discard", action="store_true")
    options = parser.parse_args()
    recorder = Recorder(options.folder, options.discard)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(options, recorder))
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
