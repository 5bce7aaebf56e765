#!/usr/bin/env python3
"""Writes COUNT small files of mixed types into FOLDER (fixed seed), nine in ten of
them agreeing with their suffix, and their names, one per line, into FOLDER/list.txt.
Usage: gen_verify_files.py COUNT FOLDER"""
import os
import random
import sys

count, folder = int(sys.argv[1]), sys.argv[2]
rng = random.Random(20261208)


def noise(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def text(line_end):
    words = [b"total", b"assets", b"filing", b"1,234", b"net", b"income", b"(567)"]
    lines = [b" ".join(rng.choice(words) for _ in range(rng.randint(1, 12))) for _ in range(rng.randint(5, 60))]
    return line_end.join(lines) + line_end


def page():
    rows = b"".join(b"<TR><TD>%d</TD><TD>%s</TD></TR>\n" % (i, rng.choice([b"a", b"b"])) for i in range(rng.randint(2, 40)))
    return b"<!DOCTYPE HTML PUBLIC>\n<HTML>\n<HEAD><TITLE>t</TITLE></HEAD>\n<BODY><TABLE>\n" + rows + b"</TABLE></BODY></HTML>\n"


# suffix -> bytes that agree with it
makers = {
    ".bmp": lambda: b"BM" + noise(rng.randint(60, 2000)),
    ".gif": lambda: b"GIF89a" + noise(rng.randint(30, 1500)),
    ".jpg": lambda: b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01" + noise(rng.randint(100, 3000)),
    ".pcx": lambda: b"\x0a\x05\x01\x08" + noise(rng.randint(124, 2000)),
    ".tif": lambda: rng.choice([b"II*\x00", b"MM\x00*"]) + noise(rng.randint(8, 2000)),
    ".wmf": lambda: rng.choice([b"\xd7\xcd\xc6\x9a", b"\x01\x00\x09\x00"]) + noise(rng.randint(20, 1000)),
    ".pct": lambda: noise(rng.randint(512, 1500)),
    ".ico": lambda: b"\x00\x00\x01\x00" + noise(rng.randint(20, 1000)),
    ".mid": lambda: b"MThd\x00\x00\x00\x06" + noise(rng.randint(20, 500)),
    ".wav": lambda: b"RIFF\x24\x08\x00\x00WAVEfmt " + noise(rng.randint(30, 3000)),
    ".ra": lambda: b".ra\xfd" + noise(rng.randint(20, 500)),
    ".avi": lambda: b"RIFF\x24\x08\x00\x00AVI LIST" + noise(rng.randint(30, 3000)),
    ".mov": lambda: b"\x00\x00\x00\x14ftypqt  " + noise(rng.randint(30, 3000)),
    ".mpg": lambda: b"\x00\x00\x01\xba" + noise(rng.randint(30, 3000)),
    ".txt": lambda: text(b"\r\n"),
    ".htm": page,
    ".html": page,
}
# bytes that disagree with most suffixes
mismatch = [lambda: text(b"\n"), lambda: noise(rng.randint(3, 400)), lambda: b"<html>" + text(b"\n")]

os.makedirs(folder, exist_ok=True)
suffixes = sorted(makers)
names = []
for i in range(count):
    suffix = rng.choice(suffixes)
    name = "f%05d%s" % (i, suffix)
    body = rng.choice(mismatch)() if rng.random() < 0.1 else makers[suffix]()
    with open(os.path.join(folder, name), "wb") as out:
        out.write(body)
    names.append(name)
with open(os.path.join(folder, "list.txt"), "w") as out:
    out.write("\n".join(names) + "\n")
