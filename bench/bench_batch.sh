#!/usr/bin/env bash
# The batch form on many small filings: -j 2 against -j 1, -j 1 against one quorlix
# process per file (xargs -n 1), the cost of drawing progress, and peak memory as
# the number of inputs grows. The filings are cut from the real sample filings
# (fixed seed): the header, a slice of the 10-Q text and the whole EX-27 schedule.
# Usage: bench/bench_batch.sh [COUNT]   (BENCH_RUNS runs per median, default 5)
BENCH_WORK=${BENCH_WORK:-/dev/shm/quorlix-bench-batch}
BENCH_RUNS=${BENCH_RUNS:-5}
source "$(dirname "$0")/bench_lib.sh"
require_tools xargs python3
count=${1:-20000}

# make_filings COUNT FOLDER: COUNT filings in sub-folders of 1,000.
make_filings() {
  [ -f "$2.complete" ] && return
  rm -rf "$2"
  python3 - "$1" "$2" "$ROOT/tests/data/filing" <<'PY'
import os, random, sys
count, folder, samples = int(sys.argv[1]), sys.argv[2], sys.argv[3]
rng = random.Random(20261208)
parts = []
for name in sorted(os.listdir(samples)):
    # The quarterly filings: a short second document, the schedule, ends each.
    if not name.endswith(".txt") or "_10q_" not in name:
        continue
    lines = open(os.path.join(samples, name), "rb").read().split(b"\n")
    starts = [i for i, line in enumerate(lines) if line.startswith(b"<DOCUMENT>")]
    head, body, schedule = lines[:starts[0] + 2], lines[starts[0] + 2:starts[1] - 1], lines[starts[1] - 1:]
    parts.append((head, body, schedule))
for i in range(count):
    head, body, schedule = rng.choice(parts)
    start = rng.randrange(len(body) - 200)
    text = head + body[start:start + rng.randint(20, 150)] + schedule
    path = os.path.join(folder, "%03d" % (i // 1000), "%07d.txt" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(b"\n".join(text))
open(folder + ".complete", "w").close()
PY
}

# Wall seconds of one run into an empty output folder.
seconds_once() {
  rm -rf "$WORK/out" "$WORK/out2"
  local start end
  start=$(date +%s.%N)
  bash -c "$1" >/dev/null
  end=$(date +%s.%N)
  python3 -c 'import sys; print("%.3f" % (float(sys.argv[2]) - float(sys.argv[1])))' "$start" "$end"
}

# Medians of two commands run in turns, so that a machine shared with other work
# slows both alike; prints "<median A> <median B>".
paired_medians() {
  local a=() b=()
  for _ in $(seq "$RUNS"); do
    a+=("$(seconds_once "$1")")
    b+=("$(seconds_once "$2")")
  done
  python3 -c 'import statistics,sys; n=int(sys.argv[1]); v=list(map(float,sys.argv[2:])); print("%.3f %.3f" % (statistics.median(v[:n]), statistics.median(v[n:])))' \
    "$RUNS" "${a[@]}" "${b[@]}"
}

inputs="$WORK/filings_$count"
make_filings "$count" "$inputs"
bytes=$(du -sb "$inputs" | cut -f1)
label="$count filings $(python3 -c "print('%.0fMiB' % ($bytes / 2**20))")"
batch="'$QUORLIX' decode-filing -q -o '$WORK/out'"

read -r t_j2 t_j1 < <(paired_medians "$batch -j 2 '$inputs'" "$batch -j 1 '$inputs'")
# One process per file takes minutes: one run of it against one of -j 1.
read -r t_xargs t_j1_once < <(RUNS=1 paired_medians \
  "cd '$inputs' && find . -name '*.txt' | sort | xargs -n 1 '$QUORLIX' decode-filing -q -j 1 -o '$WORK/out'" \
  "$batch -j 1 '$inputs'")
read -r t_progress t_plain < <(paired_medians "'$QUORLIX' decode-filing -j 2 --progress -o '$WORK/out' '$inputs' 2>/dev/null" \
  "'$QUORLIX' decode-filing -j 2 --no-progress -o '$WORK/out' '$inputs' 2>/dev/null")
# What the machine gives two workers at best: two -j 1 processes at once, each on
# its own copy of the work, against one (a machine shared with other jobs gives
# less than 2x, and -j 2 cannot beat this ceiling).
read -r t_pair t_single < <(paired_medians \
  "$batch -j 1 '$inputs' & '$QUORLIX' decode-filing -q -j 1 -o '$WORK/out2' '$inputs'; wait" \
  "$batch -j 1 '$inputs'")
python3 -c 'import sys; l,a,b=sys.argv[1:]; print("batch %s  -j2 %ss  -j1 %ss  speedup %.2fx" % (l,a,b,float(b)/float(a)))' "$label" "$t_j2" "$t_j1"
python3 -c 'import sys; l,a,b=sys.argv[1:]; print("batch %s  ceiling: two -j1 processes at once %ss  one %ss  throughput %.2fx" % (l,a,b,2*float(b)/float(a)))' "$label" "$t_pair" "$t_single"
python3 -c 'import sys; l,a,b=sys.argv[1:]; print("batch %s  -j1 %ss  xargs-n1 %ss  speedup %.1fx" % (l,a,b,float(b)/float(a)))' "$label" "$t_j1_once" "$t_xargs"
python3 -c 'import sys; l,a,b=sys.argv[1:]; print("batch %s  --progress %ss  --no-progress %ss  overhead %+.1f%%" % (l,a,b,(float(a)/float(b)-1)*100))' "$label" "$t_progress" "$t_plain"

# Peak memory at 10,000 and 100,000 inputs (small filings, -j 2); the growth
# between them, less the paths' own bytes, is what the tool holds per input.
declare -A rss paths
for n in 10000 100000; do
  folder="$WORK/filings_$n"
  make_filings "$n" "$folder"
  rm -rf "$WORK/out" "$WORK/out2"
  rss[$n]=$(peak_rss_bytes "'$QUORLIX' decode-filing -q -j 2 -o '$WORK/out' '$folder'")
  paths[$n]=$(find "$folder" -name '*.txt' | wc -c)
  python3 -c 'import sys; n,r,p=map(int,sys.argv[1:]); print("batch %d filings  peak-rss %.1f MiB  (paths %.1f MiB)" % (n,r/2**20,p/2**20))' "$n" "${rss[$n]}" "${paths[$n]}"
done
python3 -c 'import sys; a,b,c,d=map(int,sys.argv[1:]); print("batch memory per input beyond its path  %.0f bytes" % (((b-a)-(d-c))/90000))' \
  "${rss[10000]}" "${rss[100000]}" "${paths[10000]}" "${paths[100000]}"
rm -rf "$WORK/out"
