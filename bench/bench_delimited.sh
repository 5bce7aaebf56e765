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

# Adversarial record delimiters on 16 MiB of 'a': a^m b and b a^m. Finding them
# must take time linear in the input whatever m, so each line stays flat in m.
adversarial="$WORK/a_16mib.txt"
[ -f "$adversarial" ] || head -c $((16 << 20)) /dev/zero | tr '\0' a >"$adversarial"
for pattern in 'a^m b' 'b a^m'; do
  line="delimited 16MiB of a, record delimiter $pattern "
  for m in 100 1000 10000 100000; do
    run=$(printf "%${m}s" '' | tr ' ' a)
    case $pattern in 'a^m b') delim="${run}b" ;; *) delim="b${run}" ;; esac
    line+=" m=$m $(median_seconds "$QUORLIX delimited '$adversarial' '$WORK/adversarial_out.tsv' --in-record '$delim' || true")s"
  done
  echo "$line"
done
