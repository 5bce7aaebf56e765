#!/usr/bin/env bash
# quorlix html2text against Debian's html2text on a generated 32 MiB page with
# paragraphs, references and tables in capitalised tags.
# Usage: bench/bench_html.sh [SIZE_MIB]
source "$(dirname "$0")/bench_lib.sh"
require_tools hyperfine html2text python3
size_mib=${1:-32}
input="$WORK/page_${size_mib}mib.htm"
[ -f "$input" ] || python3 "$BENCH_DIR/gen_html.py" "$size_mib" "$input"
report html2text "${size_mib}MiB" "$input" \
  "$QUORLIX html2text '$input' '$WORK/html_out.txt'" \
  html2text "html2text -nobs -o '$WORK/html2text_out.txt' '$input'"
