#!/usr/bin/env python3
"""Writes COUNT filings packed as EDGAR distributes them: a daily tar archive
compressed with gzip, one file per submission (FORM tar), or a daily gzip of the
submissions one after another (FORM daily). Each filing is one of the sample
filings cut to its header, the first 24 KiB of its first document and its
Financial Data Schedule, with its accession number and amounts changed from a
fixed seed; the bytes are the same on every run (gzip level 6, no time stamps).
Usage: gen_archives.py FORM COUNT OUTPUT SAMPLE..."""
import gzip
import io
import random
import re
import sys
import tarfile

FIRST_DOCUMENT_BYTES = 24 * 1024


def filing_parts(data: bytes) -> tuple[bytes, bytes, bytes]:
    """(everything up to the header's end tag, the first document cut and the schedule, the closing line)."""
    header_end = re.search(rb"</(SEC|IMS)-HEADER>\r?\n", data)
    documents = re.findall(rb"<DOCUMENT>.*?</DOCUMENT>\r?\n", data, re.S)
    if not header_end or not documents:
        raise SystemExit("not a filing with a header and documents")
    schedules = [d for d in documents if b"<TYPE>EX-27" in d]
    first = documents[0][:FIRST_DOCUMENT_BYTES] + b"\n</TEXT>\n</DOCUMENT>\n"
    close = b"</IMS-DOCUMENT>\n" if header_end.group(1) == b"IMS" else b"</SEC-DOCUMENT>\n"
    return data[:header_end.end()], first + b"".join(schedules[:1]), close


def filings(count: int, samples: list[str]):
    parts = [filing_parts(open(path, "rb").read()) for path in sorted(samples)]
    rng = random.Random(20000201)
    amount = re.compile(rb"(<(?:CASH|SALES|NET-INCOME|TOTAL-ASSETS)>\s+)[\d,]+")
    for i in range(count):
        header, body, close = parts[i % len(parts)]
        header = re.sub(rb"(ACCESSION NUMBER:\s+)[\d-]+", b"\\g<1>9999999999-%02d-%06d" % (i % 100, i), header)
        body = amount.sub(lambda m: m.group(1) + f"{rng.randrange(1, 10**7):,}".encode(), body)
        yield f"20000201/9999999999-{i % 100:02d}-{i:06d}.txt", header + body + close


def main() -> None:
    form, count, output, samples = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    with open(output, "wb") as raw, gzip.GzipFile(fileobj=raw, mode="wb", compresslevel=6, mtime=0) as out:
        if form == "daily":
            for _, data in filings(count, samples):
                out.write(data)
            return
        with tarfile.open(fileobj=out, mode="w|", format=tarfile.USTAR_FORMAT) as archive:
            for name, data in filings(count, samples):
                info = tarfile.TarInfo(name)
                info.size, info.mtime, info.mode = len(data), 949363200, 0o644
                archive.addfile(info, io.BytesIO(data))


if __name__ == "__main__":
    main()
