#!/usr/bin/env python3
"""Writes a deterministic HTML page of at least SIZE MiB in the manner of the
financial exhibits filed in 1999-2001, as the filers' conversion software wrote
them: capitalised tags, no quotes around attribute values, a line per table row.

Half of the blocks are short paragraphs: a sentence or three of filing prose,
wrapped at about 70 columns, with bold words and entities (&amp;, &nbsp;,
&#146; and &#169;, and malformed ones such as &12; or &9; that a converter left
behind for a symbol it did not know). The other half are statements: a
<TABLE BORDER=1> with a heading row of fiscal years in bold, then rows of a
label and 1 to 7 amounts, every cell closed by </TD> and every row by </TR>.
An amount is what a statement holds: 60% thousands with a comma (1,234), 15%
millions with two, 11% below a thousand, 6% a dash and 4% an empty &nbsp; cell
for nothing, 4% a percentage; a fifth of the numbers are negatives in
parentheses, and those of the first row carry a dollar sign.
Usage: gen_statements_html.py SIZE_MIB OUTPUT"""
import random
import sys

from html_page import write_page

size = int(sys.argv[1]) << 20
rng = random.Random(20011231)

prose = (b"the Company net sales increased compared with fiscal year primarily due to higher volume of "
         b"products sold in addition management believes that the results of operations and financial "
         b"condition were affected by changes in interest rates revenues from customers under the agreement "
         b"as of December 31 accounting principles generally accepted require estimates and assumptions").split()
entities = [b"&amp;", b"&nbsp;", b"Company&#146;s", b"&#169;", b"&12;", b"&9;", b"&#150;"]
labels = [b"Net sales", b"Cost of sales", b"Gross profit", b"Selling, general &amp; administrative",
          b"Research and development", b"Operating income", b"Interest expense", b"Interest income",
          b"Other, net", b"Income before taxes", b"Income taxes", b"Net income (loss)", b"Cash",
          b"Accounts receivable, net", b"Inventories", b"Total current assets", b"Property &amp; equipment",
          b"Goodwill", b"Total assets", b"Accounts payable", b"Accrued liabilities", b"Long-term debt",
          b"Common stock", b"Retained earnings", b"Total", b"Basic", b"Diluted", b"Weighted average shares"]


def word():
    kind = rng.random()
    if kind < 0.12:
        return rng.choice(entities)
    if kind < 0.2:
        return b"<B>" + rng.choice(prose) + b"</B>"
    if kind < 0.25:
        return b"%d,%03d" % (rng.randint(1, 999), rng.randint(0, 999))
    return rng.choice(prose)


def paragraph():
    lines, line = [], []
    for _ in range(rng.randint(8, 60)):
        line.append(word())
        if sum(len(w) + 1 for w in line) > 70:
            lines.append(b" ".join(line))
            line = []
    lines.append(b" ".join(line) + b".")
    return b"<P>" + b"\n".join(lines) + b"</P>\n"


def amount(bFirst):
    kind = rng.random()
    if kind < 0.06:
        return b"-"
    if kind < 0.1:
        return b"&nbsp;"
    if kind < 0.14:
        return b"%d.%d%%" % (rng.randint(0, 99), rng.randint(0, 9))
    if kind < 0.25:
        value = b"%d" % rng.randint(1, 999)
    elif kind < 0.85:
        value = b"%d,%03d" % (rng.randint(1, 999), rng.randint(0, 999))
    else:
        value = b"%d,%03d,%03d" % (rng.randint(1, 99), rng.randint(0, 999), rng.randint(0, 999))
    if rng.random() < 0.2:
        value = b"(" + value + b")"
    return (b"$" if bFirst else b"") + value


def row(nAmounts, bFirst):
    cells = [rng.choice(labels)] + [amount(bFirst) for _ in range(nAmounts)]
    return b"<TR>" + b"".join(b"<TD>" + cell + b"</TD>" for cell in cells) + b"</TR>\n"


def table():
    nAmounts = rng.randint(1, 7)
    year = rng.randint(1999, 2001)
    heading = b"<TR><TD>&nbsp;</TD>" + b"".join(b"<TD><B>%d</B></TD>" % (year - k) for k in range(nAmounts)) + b"</TR>\n"
    rows = [row(nAmounts, k == 0) for k in range(rng.randint(3, 25))]
    return b"<TABLE BORDER=1>\n" + heading + b"".join(rows) + b"</TABLE>\n"


blocks = [paragraph() if rng.random() < 0.5 else table() for _ in range(2000)]
write_page(sys.argv[2], b"<HTML>\n<HEAD>\n<TITLE>EX-13</TITLE>\n</HEAD>\n<BODY>\n", blocks, size, b"</BODY>\n</HTML>\n")
