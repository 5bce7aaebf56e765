#!/usr/bin/env bash
# quorlix decode-filing against tr on a large filing made of the sample filings,
# at two sizes so that peak memory can be seen not to grow with the filing.
# tr -cd keeps the same bytes and reads every byte once: a floor for any decoder.
# Usage: bench/bench_filing.sh [SIZE_MIB...]   (default: 64 256)
source "$(dirname "$0")/bench_lib.sh"
require_tools hyperfine tr python3
sizes=("$@")
[ $# -gt 0 ] || sizes=(64 256)
for size_mib in "${sizes[@]}"; do
  input="$WORK/filing_${size_mib}mib.txt"
  [ -f "$input" ] || python3 "$BENCH_DIR/gen_filing.py" "$size_mib" "$input" "$ROOT"/tests/data/filing/*.txt
  report decode-filing "${size_mib}MiB" "$input" \
    "$QUORLIX decode-filing '$input' '$WORK/filing_text.txt' '$WORK/filing_schedule.txt'" \
    tr "tr -cd '\\r\\n\\040-\\176' < '$input' > '$WORK/tr_out.txt'"
done
