#!/usr/bin/env python3
"""Writes a filing of SIZE MiB by repeating the sample filings end to end, in a
fixed order, cut at the exact size. With --one-line the filing is a single line:
an HTML exhibit written without line breaks, "<HTML>" and then the samples with
each line end turned into a space.
Usage: gen_filing.py [--one-line] SIZE_MIB OUTPUT SAMPLE..."""
import sys

args = sys.argv[1:]
one_line = args[0] == "--one-line"
if one_line:
    args = args[1:]
size = int(args[0]) << 20
samples = b"".join(open(path, "rb").read() for path in sorted(args[2:]))
head = b""
if one_line:
    samples = samples.replace(b"\r\n", b" ").replace(b"\r", b" ").replace(b"\n", b" ")
    head = b"<HTML>"
size -= len(head)
copies, rest = divmod(size, len(samples))
with open(args[1], "wb") as out:
    out.write(head)
    for _ in range(copies):
        out.write(samples)
    out.write(samples[:rest])
