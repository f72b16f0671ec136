#!/usr/bin/env python3
"""MusicBrainz helpers for the tests, written from the published descriptions of the disc
id and of the web service, independent of the program's code.

  musicbrainz.py discid LEADOUT START[d]...   the disc id of a layout: track start LSNs
                                              in order ("d" marks a data track), then
                                              the lead-out LSN first on the line
  musicbrainz.py serve ROUTES LOG             a loopback HTTP server; prints "PORT <n>"
                                              and ends when its standard input closes

ROUTES is a JSON object from a path (without its query) to a list of answers, given in
turn (the last one repeats): {"status": 200, "type": "application/json", "body": "...",
"body_hex": "ffd8...", "retry_after": "1", "delay": 0.5}. Unknown paths answer 404.
Every request is appended to LOG as "<monotonic seconds>\\t<path and query>\\t<agent>".
"""
import base64
import hashlib
import http.server
import json
import os
import sys
import threading
import time

DATA_GAP = 11400  # frames between the audio session and a data track after it


def disc_id(leadout, starts):
    audio = [(i + 1, s) for i, (s, data) in enumerate(starts) if not data]
    first, last = audio[0][0], audio[-1][0]
    end = leadout
    if last < len(starts):  # a data track follows the audio: the audio ends before its gap
        end = starts[last][0] - DATA_GAP
    text = "%02X%02X%08X" % (first, last, end + 150)
    offsets = {number: start + 150 for number, start in audio}
    for number in range(1, 100):
        text += "%08X" % offsets.get(number, 0)
    digest = base64.b64encode(hashlib.sha1(text.encode("ascii")).digest()).decode("ascii")
    return digest.replace("+", ".").replace("/", "_").replace("=", "-")


class Handler(http.server.BaseHTTPRequestHandler):
    routes = {}
    served = {}
    lock = threading.Lock()
    log_path = None

    def do_GET(self):
        with self.lock:
            with open(self.log_path, "a", encoding="utf-8") as log:
                log.write("%.6f\t%s\t%s\n" % (time.monotonic(), self.path,
                                               self.headers.get("User-Agent", "")))
            path = self.path.split("?", 1)[0]
            answers = self.routes.get(path)
            if not answers:
                answer = {"status": 404, "body": "{\"error\": \"Not Found\"}"}
            else:
                index = min(self.served.get(path, 0), len(answers) - 1)
                self.served[path] = index + 1
                answer = answers[index]
        time.sleep(answer.get("delay", 0))
        if "body_hex" in answer:
            body = bytes.fromhex(answer["body_hex"])
        else:
            body = answer.get("body", "").encode("utf-8")
        body *= answer.get("repeat", 1)
        self.send_response(answer.get("status", 200))
        self.send_header("Content-Type", answer.get("type", "application/json; charset=utf-8"))
        self.send_header("Content-Length", str(len(body)))
        if "retry_after" in answer:
            self.send_header("Retry-After", answer["retry_after"])
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def log_message(self, *args):
        pass


def serve(routes_path, log_path):
    with open(routes_path, encoding="utf-8") as f:
        Handler.routes = json.load(f)
    Handler.log_path = log_path
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()  # until the test closes the pipe
    server.shutdown()


def main(argv):
    if argv[0] == "discid":
        leadout = int(argv[1])
        starts = [(int(a.rstrip("d")), a.endswith("d")) for a in argv[2:]]
        print(disc_id(leadout, starts))
    elif argv[0] == "serve":
        serve(argv[1], argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
