#!/usr/bin/env python3
"""Writes a filing of SIZE MiB by repeating the sample filings end to end, in a
fixed order, cut at the exact size. Usage: gen_filing.py SIZE_MIB OUTPUT SAMPLE..."""
import sys

size = int(sys.argv[1]) << 20
samples = b"".join(open(path, "rb").read() for path in sorted(sys.argv[3:]))
copies, rest = divmod(size, len(samples))
with open(sys.argv[2], "wb") as out:
    for _ in range(copies):
        out.write(samples)
    out.write(samples[:rest])
