#!/usr/bin/env bash
# quorlix schedules against cat reading the same files into /dev/null, on 20,000
# small filings (each the header and the schedule document of a sample filing,
# bench/gen_small_filings.py) and on 256 MiB of large filings (four of 64 MiB,
# bench/gen_filing.py); -j 2 against -j 1, and the machine's own ceiling for two
# workers: two -j 1 processes at once, each on half of the files, against one
# on all of them. Then the long form's peak memory as the input grows.
# Usage: bench/bench_schedules.sh   (BENCH_RUNS runs per median, default 5)
BENCH_WORK=${BENCH_WORK:-/dev/shm/quorlix-bench-schedules}
source "$(dirname "$0")/bench_lib.sh"
require_tools python3 xargs
RUNS=${BENCH_RUNS:-5}

# bench_set LABEL LIST: the files of LIST (NUL-separated) read by cat and by quorlix.
bench_set() {
  local label=$1 list=$2 half1=$2.1 half2=$2.2
  local count
  count=$(tr -cd '\0' < "$list" | wc -c)
  python3 - "$list" <<'PY'
import sys
paths = open(sys.argv[1], "rb").read().split(b"\0")[:-1]
half = len(paths) // 2
open(sys.argv[1] + ".1", "wb").write(b"".join(p + b"\0" for p in paths[:half]))
open(sys.argv[1] + ".2", "wb").write(b"".join(p + b"\0" for p in paths[half:]))
PY
  local tool="'$QUORLIX' schedules -q -0 -T"
  local t_cat t_j1 t_j2 t_wide1 t_wide2 t_pair
  { read -r t_cat; read -r t_j1; read -r t_j2; read -r t_wide1; read -r t_wide2; read -r t_pair; } < <(medians \
    "xargs -0 cat < '$list' > /dev/null" \
    "$tool '$list' -j 1 > /dev/null" \
    "$tool '$list' -j 2 > /dev/null" \
    "$tool '$list' -j 1 --wide > /dev/null" \
    "$tool '$list' -j 2 --wide > /dev/null" \
    "$tool '$half1' -j 1 > /dev/null & $tool '$half2' -j 1 > /dev/null; wait")
  echo "schedules $label  -j1 ${t_j1}s  cat ${t_cat}s  vs-cat $(ratio "$t_j1" "$t_cat")x"
  echo "schedules $label  -j2 ${t_j2}s  -j1 ${t_j1}s  speedup $(ratio "$t_j1" "$t_j2")x  (ceiling: two -j1 processes on half each ${t_pair}s, $(ratio "$t_j1" "$t_pair")x)"
  echo "schedules $label  --wide -j1 ${t_wide1}s  -j2 ${t_wide2}s  speedup $(ratio "$t_wide1" "$t_wide2")x"
}

small="$WORK/small_20000"
if [ ! -f "$small.complete" ]; then
  rm -rf "$small"
  python3 "$BENCH_DIR/gen_small_filings.py" 20000 "$small" "$ROOT"/tests/data/filing/*.txt
  touch "$small.complete"
fi
find "$small" -type f -print0 | sort -z > "$WORK/small.list"
bench_set "20000 filings $(du -sm --apparent-size "$small" | cut -f1)MiB" "$WORK/small.list"

rm -f "$WORK/large.list"
for i in 1 2 3 4; do
  large="$WORK/large_$i.txt"
  [ -f "$large" ] || python3 "$BENCH_DIR/gen_filing.py" 64 "$large" "$ROOT"/tests/data/filing/*.txt
  printf '%s\0' "$large" >> "$WORK/large.list"
done
bench_set "4 filings 256MiB" "$WORK/large.list"

# Peak memory of the long form (-j 2) as the input grows: small filings 5,000
# against 20,000, one large filing of 64 MiB against one of 256 MiB.
peak() { python3 -c 'import sys; print("%.1f" % (int(sys.argv[1]) / 2**20))' "$(peak_rss_bytes "$1")"; }
head -z -n 5000 "$WORK/small.list" > "$WORK/small_5000.list"
cat "$WORK"/large_[1234].txt > "$WORK/large_256.txt"
echo "schedules peak-rss long form -j2  5000 filings $(peak "'$QUORLIX' schedules -q -j 2 -0 -T '$WORK/small_5000.list' > /dev/null") MiB  20000 filings $(peak "'$QUORLIX' schedules -q -j 2 -0 -T '$WORK/small.list' > /dev/null") MiB  64MiB filing $(peak "'$QUORLIX' schedules -q -j 2 '$WORK/large_1.txt' > /dev/null") MiB  256MiB filing $(peak "'$QUORLIX' schedules -q -j 2 '$WORK/large_256.txt' > /dev/null") MiB"
rm -f "$WORK/large_256.txt"
