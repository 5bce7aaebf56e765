#!/usr/bin/env python3
"""Writes COUNT small filings into FOLDER, each the header and the Financial Data
Schedule document of one of the sample filings (the schedule-less samples give
their header and first document), with its accession number and amounts
changed from a fixed seed; with --distinct-companies each filing also gets a CIK
of its own, so that every schedule is a company and period of its own.
Usage: gen_small_filings.py [--distinct-companies] COUNT FOLDER SAMPLE..."""
import os
import random
import re
import sys


def small_filing_parts(data: bytes) -> tuple[bytes, bytes, bytes]:
    """(header up to its end tag, the schedule document or else the first document, closing line)."""
    header_end = re.search(rb"</(SEC|IMS)-HEADER>\r?\n", data)
    documents = re.findall(rb"<DOCUMENT>.*?</DOCUMENT>\r?\n", data, re.S)
    if not header_end or not documents:
        raise SystemExit("not a filing with a header and documents")
    schedules = [d for d in documents if b"<TYPE>EX-27" in d]
    body = schedules[0] if schedules else documents[0][:16384]
    close = b"</IMS-DOCUMENT>\n" if header_end.group(1) == b"IMS" else b"</SEC-DOCUMENT>\n"
    return data[:header_end.end()], body, close


def main() -> None:
    args = sys.argv[1:]
    distinct = args[0] == "--distinct-companies"
    if distinct:
        args = args[1:]
    count, folder, samples = int(args[0]), args[1], sorted(args[2:])
    parts = [small_filing_parts(open(path, "rb").read()) for path in samples]
    rng = random.Random(20000)
    os.makedirs(folder, exist_ok=True)
    amount = re.compile(rb"(<(?:CASH|SALES|NET-INCOME|TOTAL-ASSETS)>\s+)[\d,]+")
    for i in range(count):
        header, body, close = parts[i % len(parts)]
        header = re.sub(rb"(ACCESSION NUMBER:\s+)[\d-]+", b"\\g<1>9999999999-%02d-%06d" % (i % 100, i), header)
        if distinct:
            header = re.sub(rb"(CENTRAL INDEX KEY:\s+)\d+", b"\\g<1>%010d" % (1000000 + i), header)
        body = amount.sub(lambda m: m.group(1) + f"{rng.randrange(1, 10**7):,}".encode(), body)
        # Folders of 1,000, as an archive keeps its filings by company or year.
        part = os.path.join(folder, f"part_{i // 1000:03d}")
        os.makedirs(part, exist_ok=True)
        with open(os.path.join(part, f"filing_{i:05d}.txt"), "wb") as out:
            out.write(header + body + close)


if __name__ == "__main__":
    main()
