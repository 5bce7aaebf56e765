#!/usr/bin/env python3
"""Writes a deterministic text file of SIZE MiB: LF line ends, tabs and 8-bit bytes.
Usage: gen_text.py SIZE_MIB OUTPUT"""
import random
import sys

size = int(sys.argv[1]) << 20
rng = random.Random(20261208)
words = [b"filing", b"caf\xe9", b"total", b"assets", b"\tcolumn", b"1,234", b"(567)", b"na\xefve", b"end."]
lines = []
for _ in range(4096):
    line = b" ".join(rng.choice(words) for _ in range(rng.randint(0, 14)))
    lines.append(line + b"\n")
block = b"".join(lines)
with open(sys.argv[2], "wb") as out:
    written = 0
    while written < size:
        piece = block[: size - written]
        out.write(piece)
        written += len(piece)
