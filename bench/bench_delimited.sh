#!/usr/bin/env bash
# quorlix delimited against sed, with tr as the floor, on a 128 MiB comma-separated
# file with CR LF records turned into tab-separated fields.
# Usage: bench/bench_delimited.sh [SIZE_MIB]
source "$(dirname "$0")/bench_lib.sh"
require_tools hyperfine sed tr python3
size_mib=${1:-128}
input="$WORK/csv_${size_mib}mib.csv"
[ -f "$input" ] || python3 "$BENCH_DIR/gen_csv.py" "$size_mib" "$input"
ours="$QUORLIX delimited '$input' '$WORK/delimited_out.tsv'"
report delimited "${size_mib}MiB" "$input" "$ours" sed "sed 's/,/\t/g' '$input' > '$WORK/sed_out.tsv'"
report delimited "${size_mib}MiB" "$input" "$ours" tr "tr ',' '\t' < '$input' > '$WORK/tr_out.tsv'"
