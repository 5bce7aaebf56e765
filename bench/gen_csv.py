#!/usr/bin/env python3
"""Writes a deterministic comma-separated file of SIZE MiB with CR LF records:
dates, names, amounts and codes, some fields empty.
Usage: gen_csv.py SIZE_MIB OUTPUT"""
import random
import sys

size = int(sys.argv[1]) << 20
rng = random.Random(20261209)
names = [b"ACME CORP", b"Globex", b"Initech Inc", b"Umbrella", b"Hooli", b"Stark Industries", b""]
records = []
for n in range(8192):
    fields = [
        b"%d" % (100000 + n),
        b"2024-%02d-%02d" % (rng.randint(1, 12), rng.randint(1, 28)),
        rng.choice(names),
        b"%d.%02d" % (rng.randint(0, 999999), rng.randint(0, 99)),
        b"%d" % rng.randint(-5000, 5000),
        rng.choice([b"USD", b"EUR", b"", b"JPY"]),
        b"10-K" if rng.random() < 0.5 else b"10-Q",
        b"%08X" % rng.getrandbits(32),
    ]
    records.append(b",".join(fields) + b"\r\n")
block = b"".join(records)
whole, rest = divmod(size, len(block))
with open(sys.argv[2], "wb") as out:
    for _ in range(whole):
        out.write(block)
    out.write(block[:rest])
