#!/usr/bin/env python3
"""Writes a deterministic HTML page of at least SIZE MiB with capitalised tags:
paragraphs with bold words, entities and digit references, and tables of 1 to 40
rows of 1 to 12 cells, some holding commas or line breaks.
Usage: gen_html.py SIZE_MIB OUTPUT"""
import random
import sys

from html_page import write_page

size = int(sys.argv[1]) << 20
rng = random.Random(20261208)
words = [b"filing", b"total", b"assets", b"net", b"income", b"&amp;", b"&nbsp;", b"&#146;", b"&8212;",
         b"1,234", b"(567)", b"<B>bold</B>", b"<I>note</I>", b"caf\xe9", b"\tcolumn", b"end."]


def text(n):
    return b" ".join(rng.choice(words) for _ in range(n))


def paragraph():
    return b"<P ALIGN=\"left\">" + text(rng.randint(5, 60)) + b"</P>\n"


def cell():
    kind = rng.random()
    if kind < 0.15:
        body = b"&nbsp;"
    elif kind < 0.25:
        body = text(2) + b"<BR>" + text(2)
    else:
        body = text(rng.randint(1, 6))
    return b"<TD ALIGN=\"right\"><FONT SIZE=\"2\">" + body + b"</FONT></TD>"


def table():
    rows = []
    for _ in range(rng.randint(1, 40)):
        rows.append(b"<TR VALIGN=\"top\">\n" + b"\n".join(cell() for _ in range(rng.randint(1, 12))) + b"\n</TR>\n")
    return b"<TABLE BORDER=\"0\" WIDTH=\"100%\">\n" + b"".join(rows) + b"</TABLE>\n"


blocks = [paragraph() if rng.random() < 0.6 else table() for _ in range(2000)]
write_page(sys.argv[2], b"<HTML><HEAD><TITLE>Generated page</TITLE></HEAD>\n<BODY BGCOLOR=\"white\">\n", blocks, size, b"</BODY></HTML>\n")
