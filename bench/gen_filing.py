#!/usr/bin/env python3
"""Writes a filing of SIZE MiB by repeating the sample filings end to end, in a
fixed order, cut at the exact size. Usage: gen_filing.py SIZE_MIB OUTPUT SAMPLE..."""
import sys

size = int(sys.argv[1]) << 20
block = b"".join(open(path, "rb").read() for path in sorted(sys.argv[3:]))
with open(sys.argv[2], "wb") as out:
    written = 0
    while written < size:
        piece = block[: size - written]
        out.write(piece)
        written += len(piece)
