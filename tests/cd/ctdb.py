#!/usr/bin/env python3
"""CUETools database (CTDB) helpers for the CD tests, written from the published
description of the disc checksum and of the lookup's XML reply, independent of the
program's code.

  ctdb.py crc BIN                   the disc checksum of an audio-only image whose first
                                    track starts at the image's start (hex): zlib's
                                    CRC32 of its samples without the first 5880 and the
                                    last 5880 + (samples mod 5880)
  ctdb.py reply BIN OUT KIND        writes a lookup reply for the image to OUT:
                                    match (an entry with the disc's checksum, confidence 7,
                                    and another pressing's, confidence 3), mismatch (two
                                    entries with other checksums), empty (no entries),
                                    garbage (an HTML page)
  ctdb.py reply BIN OUT tracks FRAMES...
                                    an entry (confidence 7) that also lists each track's
                                    checksum: the CRC32 of the track's samples that the disc
                                    checksum counts (FRAMES: the tracks' lengths in frames)
"""
import sys
import zlib

STRIDE = 5880  # samples: 10 frames


def disc_crc(bin_path):
    with open(bin_path, "rb") as f:
        image = f.read()
    samples = len(image) // 4
    tail = STRIDE + samples % STRIDE
    return zlib.crc32(image[STRIDE * 4:(samples - tail) * 4]) & 0xFFFFFFFF


def entry(crc, confidence, toc, extra=""):
    return ('  <entry id="%d" crc32="%08x" confidence="%d" npar="8" stride="5880" '
            'hasparity="/parity/%d" parity="AAAA" toc="%s"%s />\n'
            % (1000 + confidence, crc, confidence, confidence, toc, extra))


def track_crcs(bin_path, frames):
    with open(bin_path, "rb") as f:
        image = f.read()
    samples = len(image) // 4
    first, last = STRIDE, samples - (STRIDE + samples % STRIDE)
    crcs = []
    start = 0
    for n in frames:
        end = start + n * 588
        lo, hi = max(start, first), min(end, last)
        crcs.append(zlib.crc32(image[lo * 4:hi * 4]) & 0xFFFFFFFF if hi > lo else 0)
        start = end
    return crcs


def reply(bin_path, out_path, kind, frames=()):
    crc = disc_crc(bin_path)
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<ctdb xmlns="http://db.cuetools.net/ns/mmd-1.0#" '
            'xmlns:ext="http://db.cuetools.net/ns/ext-1.0#">\n')
    if kind == "match":
        body = head + entry(crc, 7, "0:40:52:82") + entry(crc ^ 0x100, 3, "0:40:52:83") + "</ctdb>\n"
    elif kind == "mismatch":
        body = head + entry(crc ^ 1, 4, "0:40:52:82") + entry(crc ^ 2, 2, "0:40:52:82") + "</ctdb>\n"
    elif kind == "tracks":
        listed = ' trackcrcs="%s"' % " ".join("%08x" % c for c in track_crcs(bin_path, frames))
        body = head + entry(crc, 7, "0:40:52:82", listed) + "</ctdb>\n"
    elif kind == "empty":
        body = head + "</ctdb>\n"
    else:
        body = "<!DOCTYPE html>\n<html><body>Service unavailable</body></html>\n"
    with open(out_path, "w", encoding="utf-8") as f:
        f.write(body)


def main(argv):
    if argv[0] == "crc":
        print("%08x" % disc_crc(argv[1]))
    elif argv[0] == "reply":
        reply(argv[1], argv[2], argv[3], [int(f) for f in argv[4:]])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
