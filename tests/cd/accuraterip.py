#!/usr/bin/env python3
"""AccurateRip helpers for the CD tests, written from the public description of the
algorithm and file format, independent of the program's code.

  accuraterip.py sums BIN FRAMES...          per track: "v1 v2 crc32" in hex, then
                                             "ids TRACKS ID1 ID2 CDDB" (all hex)
  accuraterip.py database BIN OUT KIND FRAMES...
                                             writes a database file for the image:
                                             match (two pressings, v1 then v2 checksums,
                                             confidence 5 and 3, and a chunk of another
                                             disc), mismatch (wrong checksums), garbage,
                                             shifted:N (v1 and v2 checksums, confidence 5
                                             and 3, of the image as read by a drive that
                                             needs read offset N: sample k is image
                                             sample k + N, silence beyond the image)
  accuraterip.py serve DIR PORTFILE MAX      serves DIR's files by base name on a free
                                             loopback port (written to PORTFILE) for at
                                             most MAX requests or 60 seconds; PORTFILE "-":
                                             "PORT <n>" on standard output instead, and the
                                             server also ends when standard input closes
"""
import http.server
import os
import struct
import sys
import threading
import time
import zlib

FRAME_BYTES = 2352
SAMPLES_PER_FRAME = 588


def track_sums(data, first, last):
    words = struct.unpack("<%dI" % (len(data) // 4), data)
    total = len(words)
    low = 5 * SAMPLES_PER_FRAME if first else 1
    high = total - 5 * SAMPLES_PER_FRAME if last else total
    v1 = v2 = 0
    for number, word in enumerate(words, start=1):
        if low <= number <= high:
            product = word * number
            v1 += product & 0xFFFFFFFF
            v2 += (product & 0xFFFFFFFF) + (product >> 32)
    return v1 & 0xFFFFFFFF, v2 & 0xFFFFFFFF, zlib.crc32(data) & 0xFFFFFFFF


def disc_ids(frames):
    starts, lsn = [], 0
    for count in frames:
        starts.append(lsn)
        lsn += count
    lead_out = lsn
    id1 = (sum(starts) + lead_out) & 0xFFFFFFFF
    id2 = (sum(max(s, 1) * (i + 1) for i, s in enumerate(starts)) +
           lead_out * (len(starts) + 1)) & 0xFFFFFFFF
    digits = sum(sum(int(d) for d in str((s + 150) // 75)) for s in starts)
    seconds = (lead_out + 150) // 75 - (starts[0] + 150) // 75
    cddb = ((digits % 255) << 24) | (seconds << 8) | len(starts)
    return len(starts), id1, id2, cddb


def shifted(image, offset):
    shift = 4 * offset
    if shift >= 0:
        return image[shift:] + bytes(min(shift, len(image)))
    return bytes(min(-shift, len(image))) + image[:shift]


def all_sums(bin_path, frames, offset=0):
    with open(bin_path, "rb") as f:
        image = shifted(f.read(), offset)
    sums, at = [], 0
    for index, count in enumerate(frames):
        data = image[at:at + count * FRAME_BYTES]
        at += count * FRAME_BYTES
        sums.append(track_sums(data, index == 0, index == len(frames) - 1))
    return sums


def chunk(ids, entries):
    out = struct.pack("<BIII", *ids)
    for confidence, crc in entries:
        out += struct.pack("<BII", confidence, crc, 0)
    return out


def database(bin_path, out_path, kind, frames):
    ids = disc_ids(frames)
    offset = int(kind.split(":")[1]) if kind.startswith("shifted:") else 0
    sums = all_sums(bin_path, frames, offset)
    if offset != 0:
        body = (chunk(ids, [(5, s[0]) for s in sums]) +
                chunk(ids, [(3, s[1]) for s in sums]))
    elif kind == "match":
        other = (ids[0], ids[1] ^ 1, ids[2], ids[3])
        body = (chunk(other, [(9, s[0]) for s in sums]) +
                chunk(ids, [(5, s[0]) for s in sums]) +
                chunk(ids, [(3, s[1]) for s in sums]))
    elif kind == "mismatch":
        body = chunk(ids, [(4, (s[0] + 1) & 0xFFFFFFFF) for s in sums])
    else:
        body = b"<html>not a database</html>"
    with open(out_path, "wb") as f:
        f.write(body)
    return "dBAR-%03d-%08x-%08x-%08x.bin" % ids


class Handler(http.server.BaseHTTPRequestHandler):
    folder = "."

    def do_GET(self):
        path = os.path.join(self.folder, os.path.basename(self.path))
        if not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Server(http.server.HTTPServer):
    idle = False

    def handle_timeout(self):
        self.idle = True


def serve(folder, port_file, max_requests):
    Handler.folder = folder
    server = Server(("127.0.0.1", 0), Handler)
    server.timeout = 1.0
    if port_file == "-":
        print("PORT %d" % server.server_address[1], flush=True)
        # The test closes standard input when it is done with the server.
        threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
    else:
        with open(port_file + ".tmp", "w") as f:
            f.write(str(server.server_address[1]))
        os.rename(port_file + ".tmp", port_file)
    deadline = time.monotonic() + 60
    served = 0
    while served < max_requests and time.monotonic() < deadline:
        server.idle = False
        server.handle_request()
        served += 0 if server.idle else 1
    server.server_close()


def main(argv):
    if argv[0] == "sums":
        frames = [int(f) for f in argv[2:]]
        for v1, v2, crc in all_sums(argv[1], frames):
            print("%08x %08x %08x" % (v1, v2, crc))
        print("ids %x %08x %08x %08x" % disc_ids(frames))
    elif argv[0] == "database":
        print(database(argv[1], argv[2], argv[3], [int(f) for f in argv[4:]]))
    elif argv[0] == "serve":
        serve(argv[1], argv[2], int(argv[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
