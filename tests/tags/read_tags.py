#!/usr/bin/python3
"""Prints the tag of an MP3 (ID3v2), Ogg Vorbis, Ogg Opus or FLAC file as KEY=value lines,
read by mutagen: an independent reader for the tag tests. Pictures print as
PICTURE=mime type width height bytes."""
import base64
import sys

from mutagen.flac import FLAC, Picture
from mutagen.id3 import ID3
from mutagen.oggopus import OggOpus
from mutagen.oggvorbis import OggVorbis


def show(key, value):
    print(f"{key}={value}".replace("\n", "\\n"))


def show_picture(p):
    show("PICTURE", f"{p.mime} {p.type} {p.width} {p.height} {len(p.data)}")


def id3(path):
    tag = ID3(path)
    show("VERSION", f"2.{tag.version[1]}")
    for frame in tag.values():
        if frame.FrameID == "TXXX":
            show(f"TXXX:{frame.desc}", frame.text[0])
        elif frame.FrameID == "UFID":
            show(f"UFID:{frame.owner}", frame.data.decode("latin-1"))
        elif frame.FrameID == "COMM":
            show("COMM", frame.text[0])
        elif frame.FrameID == "APIC":
            show("APIC", f"{frame.mime} {int(frame.type)} {len(frame.data)}")
            show("APICENC", int(frame.encoding))
        else:
            show(frame.FrameID, str(frame.text[0]))
            show(frame.FrameID + "ENC", int(frame.encoding))


def xiph(tagged, pictures):
    for key, value in tagged.tags:
        if key.upper() == "METADATA_BLOCK_PICTURE":
            show_picture(Picture(base64.b64decode(value)))
        else:
            show(key.upper(), value)
    for p in pictures:
        show_picture(p)


def main():
    path, kind = sys.argv[1], sys.argv[2]
    if kind == "mp3":
        id3(path)
    elif kind == "flac":
        f = FLAC(path)
        xiph(f, f.pictures)
    elif kind == "opus":
        xiph(OggOpus(path), [])
    else:
        xiph(OggVorbis(path), [])


main()
