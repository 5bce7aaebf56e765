#!/usr/bin/env bash
# quorlix html2text against Debian's html2text on two generated 32 MiB pages in
# capitalised tags: one of paragraphs, references and tables of long cells, and
# one of financial statements as filers' software wrote them around 2000, half
# short paragraphs and half tables of short amounts (bench/gen_statements_html.py
# says how it is made), where most cells hold a comma.
# Usage: bench/bench_html.sh [SIZE_MIB]
source "$(dirname "$0")/bench_lib.sh"
require_tools hyperfine html2text python3
size_mib=${1:-32}
page="$WORK/page_${size_mib}mib.htm"
statements="$WORK/statements_${size_mib}mib.htm"
[ -f "$page" ] || python3 "$BENCH_DIR/gen_html.py" "$size_mib" "$page"
[ -f "$statements" ] || python3 "$BENCH_DIR/gen_statements_html.py" "$size_mib" "$statements"
for job in html2text html2text-statements; do
  input=$page
  [ "$job" = html2text-statements ] && input=$statements
  report "$job" "${size_mib}MiB" "$input" \
    "$QUORLIX html2text '$input' '$WORK/html_out.txt'" \
    html2text "html2text -nobs -o '$WORK/html2text_out.txt' '$input'"
done
