#!/usr/bin/env bash
# Peak memory of each command on a filing whose one schedule value is a line of
# LINE_MIB MiB (default 128; one filing whose line is text, one whose line is
# digits), of html2text on a page whose body is such a line, and of verify -j 4
# on four FILE_MIB MiB text files
# (default 512) that do not agree with .txt, so each is explained as well as
# checked. One line per job: the peak RSS, the bound (three times the longest
# line plus 64 MiB, and for verify 64 MiB a worker over the tool at rest), and
# cat's peak RSS on the same input as the physical reference.
# Usage: bench/bench_memory.sh [LINE_MIB] [FILE_MIB]
# The inputs are made in /tmp (BENCH_MEMORY_WORK) and removed at the end.
source "$(dirname "$0")/bench_lib.sh"
require_tools python3
line_mib=${1:-128}
file_mib=${2:-512}
work=${BENCH_MEMORY_WORK:-/tmp/quorlix-memory-$$}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Two filings, each with one EX-27 document holding one value line of line_mib
# MiB: text (NAME) in one, digits (CASH, an amount) in the other.
for kind in text number; do
  python3 - "$work/long_$kind.txt" "$line_mib" "$kind" <<'PY'
import sys
path, mib, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
block = b"1234567890" * 6553 + b"123456"  # 64 KiB of digits
if kind == "text":
    block = block.replace(b"1", b"A")
with open(path, "wb") as out:
    out.write(b"<SEC-DOCUMENT>0000000000-99-000001.txt\n<SEC-HEADER>\nACCESSION NUMBER: 0000000000-99-000001\n"
              b"CONFORMED SUBMISSION TYPE: 10-K\nCENTRAL INDEX KEY: 0000000042\n</SEC-HEADER>\n<DOCUMENT>\n"
              b"<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n<MULTIPLIER> 1,000\n<PERIOD-TYPE> YEAR\n"
              b"<PERIOD-END> DEC-31-1999\n" + (b"<NAME> " if kind == "text" else b"<CASH> "))
    for _ in range(mib * 16):
        out.write(block)
    out.write(b"\n<TOTAL-ASSETS> 5\n</TEXT>\n</DOCUMENT>\n</SEC-DOCUMENT>\n")
PY
done
# A page whose body is one line of line_mib MiB, for html2text.
python3 - "$work/long_page.htm" "$line_mib" <<'PY'
import sys
block = b"word " * 13107 + b"x"  # 64 KiB
with open(sys.argv[1], "wb") as out:
    out.write(b"<HTML><BODY><P>")
    for _ in range(int(sys.argv[2]) * 16):
        out.write(block)
    out.write(b"</P></BODY></HTML>\n")
PY
# Four text files with LF line ends alone: verify finds no CR LF pair and explains it.
for i in 1 2 3 4; do
  python3 - "$work/lf_$i.txt" "$file_mib" <<'PY'
import sys
line = b"x" * 79 + b"\n"
block = line * (1 << 14)  # 1.25 MiB
with open(sys.argv[1], "wb") as out:
    for _ in range(int(sys.argv[2]) * 1024 * 1024 // len(block)):
        out.write(block)
PY
done

at_rest=$(peak_rss_bytes "'$QUORLIX' version")
report() {  # job, command, input, bound in bytes
  local rss cat_rss
  rss=$(peak_rss_bytes "$2")
  cat_rss=$(peak_rss_bytes "cat $3 >/dev/null")
  python3 -c 'import sys; j,r,b,c=sys.argv[1],*map(int,sys.argv[2:]); print("memory %-22s peak-rss %7.1f MiB  bound %7.1f MiB  %s  cat %5.1f MiB" % (j, r/2**20, b/2**20, "within" if r <= b else "OVER", c/2**20))' \
    "$1" "$rss" "$4" "$cat_rss"
}
line_bound=$(( (3 * line_mib + 64) * 1024 * 1024 + at_rest ))
out="$work/out"
mkdir -p "$out"
for kind in text number; do
  filing="$work/long_$kind.txt"
  size="${line_mib}MiB-$kind"
  report "schedules $size" "'$QUORLIX' schedules -q '$filing' -o '$out/long.csv'" "$filing" "$line_bound"
  report "schedules-wide $size" "'$QUORLIX' schedules -q --wide '$filing' -o '$out/wide.csv'" "$filing" "$line_bound"
  report "panel $size" "'$QUORLIX' panel -q '$filing' -o '$out/panel.csv'" "$filing" "$line_bound"
  report "decode-filing $size" \
    "'$QUORLIX' decode-filing --force '$filing' '$out/text.txt' '$out/schedule.txt'" "$filing" "$line_bound"
  report "crlf $size" "'$QUORLIX' crlf --force '$filing' '$out/crlf.txt'" "$filing" "$line_bound"
  report "delimited $size" "'$QUORLIX' delimited --force '$filing' '$out/fields.txt' || true" "$filing" "$line_bound"
  report "verify $size" "'$QUORLIX' verify '$filing' >/dev/null || true" "$filing" "$line_bound"
  rm -f "$out"/*
done
report "html2text ${line_mib}MiB-page" "'$QUORLIX' html2text '$work/long_page.htm' '$out/page.txt'" \
  "$work/long_page.htm" "$line_bound"
rm -rf "$out"
verify_bound=$(( 4 * 64 * 1024 * 1024 + at_rest ))
report "verify-j4 4x${file_mib}MiB" "'$QUORLIX' verify -q -j 4 '$work'/lf_?.txt >/dev/null || true" \
  "'$work'/lf_?.txt" "$verify_bound"
printf 'memory at-rest peak-rss %.1f MiB\n' "$(python3 -c "print($at_rest/2**20)")"
