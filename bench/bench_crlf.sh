#!/usr/bin/env bash
# quorlix crlf against unix2dos on a 256 MiB text file with LF line ends, tabs and
# 8-bit bytes, into a new output and over an existing one.
# Usage: bench/bench_crlf.sh [SIZE_MIB]
source "$(dirname "$0")/bench_lib.sh"
require_tools hyperfine unix2dos python3
size_mib=${1:-256}
input="$WORK/text_${size_mib}mib.txt"
[ -f "$input" ] || python3 "$BENCH_DIR/gen_text.py" "$size_mib" "$input"
# Into a new file, as cat writes one: the output is written as the input is read.
report crlf "${size_mib}MiB" "$input" \
  "rm -f '$WORK/crlf_out.txt'; $QUORLIX crlf '$input' '$WORK/crlf_out.txt'" \
  unix2dos "rm -f '$WORK/unix2dos_out.txt'; unix2dos -q -n '$input' '$WORK/unix2dos_out.txt'"
# Over an output that exists: the input is read whole before the output is touched.
report crlf-over-existing "${size_mib}MiB" "$input" \
  "$QUORLIX crlf '$input' '$WORK/crlf_out.txt'" \
  unix2dos "unix2dos -q -n '$input' '$WORK/unix2dos_out.txt'"
