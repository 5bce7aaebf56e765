#!/usr/bin/env bash
# quorlix decode-filing against tr on a large filing made of the sample filings,
# at two sizes so that peak memory can be seen not to grow with the filing.
# tr -cd keeps the same bytes and reads every byte once: a floor for any decoder.
# Then a filing of one line of 256 MiB (BENCH_LINE_MIB): the decoder holds a line
# whole, and its peak memory must stay within 1.25 times the line plus 8 MiB
# (the tool's own is about 5 MiB); the script fails when it does not.
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

line_mib=${BENCH_LINE_MIB:-256}
line="$WORK/filing_line_${line_mib}mib.txt"
[ -f "$line" ] || python3 "$BENCH_DIR/gen_filing.py" --one-line "$line_mib" "$line" "$ROOT"/tests/data/filing/*.txt
rss=$(peak_rss_bytes "$QUORLIX decode-filing '$line' '$WORK/filing_text.txt' '$WORK/filing_schedule.txt'")
python3 - "$line_mib" "$rss" "$(stat -c %s "$line")" <<'PY'
import sys
mib, rss, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
bound = 1.25 * size + (8 << 20)
print("decode-filing %sMiB-one-line  peak-rss %.1f MiB = %.2fx line  bound 1.25x line + 8 MiB = %.1f MiB  %s"
      % (mib, rss / 2**20, rss / size, bound / 2**20, "ok" if rss <= bound else "EXCEEDED"))
sys.exit(0 if rss <= bound else 1)
PY
