#!/usr/bin/env bash
# quorlix schedules into an SQLite database against the long CSV of the same
# filings, on the 20,000 small filings of the batch bench
# (bench/gen_small_filings.py), at -j 1, timed in turns: the database should take
# at most 2.5 times the CSV's time, and an --update with nothing changed at most
# 5% of a full run. Then the database's peak memory on 20,000 and 100,000
# filings (it should stay flat: grow no more than the CSV's, whose list of
# inputs grows alike), and the Python frames against the tool's CSV read by
# pandas.read_csv: the wide frame's time (at most 1.2x) and the long frame's
# peak memory (at most 1.5x), and the wide frame of 10,000 distinct tags (at
# most 3x).
# Usage: bench/bench_database.sh   (BENCH_RUNS runs per median, default 5)
BENCH_WORK=${BENCH_WORK:-/dev/shm/quorlix-bench-database}
source "$(dirname "$0")/bench_lib.sh"
require_tools python3 /usr/bin/python3
RUNS=${BENCH_RUNS:-5}

# generate FOLDER COUNT: the small filings, once.
generate() {
  local folder=$1 count=$2
  if [ ! -f "$folder.complete" ]; then
    rm -rf "$folder"
    python3 "$BENCH_DIR/gen_small_filings.py" "$count" "$folder" "$ROOT"/tests/data/filing/*.txt
    touch "$folder.complete"
  fi
  find "$folder" -type f -print0 | sort -z > "$folder.list"
}

small="$WORK/small_20000"
generate "$small" 20000
label="20000 filings $(du -sm --apparent-size "$small" | cut -f1)MiB"
db="$WORK/fds.sqlite"
rm -f "$db"
{ read -r t_csv; read -r t_db; } < <(medians \
  "'$QUORLIX' schedules -q -j 1 -0 -T '$small.list' -o '$WORK/long.csv'" \
  "'$QUORLIX' schedules -q -j 1 -0 -T '$small.list' -o '$db'")
echo "database $label  -j1 ${t_db}s  long csv -j1 ${t_csv}s  database/csv $(ratio "$t_db" "$t_csv")x (at most 2.5x)"
{ read -r t_update; } < <(medians "'$QUORLIX' schedules -q -j 1 --update -0 -T '$small.list' -o '$db'")
echo "database --update nothing changed ${t_update}s  full ${t_db}s  update/full $(ratio "$t_update" "$t_db")x (at most 0.05x)"

big="$WORK/small_100000"
generate "$big" 100000
rss_20000=$(peak_rss_bytes "rm -f '$WORK/m.sqlite'; '$QUORLIX' schedules -q -j 1 -0 -T '$small.list' -o '$WORK/m.sqlite'")
rss_100000=$(peak_rss_bytes "rm -f '$WORK/m.sqlite'; '$QUORLIX' schedules -q -j 1 -0 -T '$big.list' -o '$WORK/m.sqlite'")
rss_csv_20000=$(peak_rss_bytes "'$QUORLIX' schedules -q -j 1 -0 -T '$small.list' -o '$WORK/m.csv'")
rss_csv=$(peak_rss_bytes "'$QUORLIX' schedules -q -j 1 -0 -T '$big.list' -o '$WORK/m.csv'")
# The tool's own list of inputs grows with them alike in both: the database should grow no more than the CSV.
echo "database peak-rss -j1  20000 filings $(mib "$rss_20000") MiB  100000 filings $(mib "$rss_100000") MiB  growth $(mib $((rss_100000 - rss_20000))) MiB  long csv $(mib "$rss_csv_20000") MiB / $(mib "$rss_csv") MiB  growth $(mib $((rss_csv - rss_csv_20000))) MiB"

# The Python frames: one process per figure, so that each peak is its own.
export QUORLIX_LIBRARY=${QUORLIX_LIBRARY:-$ROOT/build/release/src/libquorlix.so}
export PYTHONPATH="$ROOT/python${PYTHONPATH:+:$PYTHONPATH}"
frame() {
  /usr/bin/python3 - "$@" <<'PY'
import resource, subprocess, sys, time
import pandas
import quorlix
job, folder, tool, work = sys.argv[1:]
start = time.perf_counter()
if job == "wide":
    quorlix.schedules_frame([folder], jobs=1)
elif job == "long":
    quorlix.schedules_frame([folder], long=True, jobs=1)
else:
    wide = job.endswith("wide-csv")
    subprocess.run([tool, "schedules", "-q", "-j", "1", "-o", f"{work}/frame.csv"] + (["--wide"] if wide else [])
                   + [folder], check=True)
    pandas.read_csv(f"{work}/frame.csv", dtype=str, keep_default_na=False)
print("%.3f %d" % (time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024))
PY
}
median_frame() {
  local times=() rss=0 t r
  for _ in $(seq "$RUNS"); do
    read -r t r < <(frame "$@")
    times+=("$t")
    rss=$r
  done
  python3 -c 'import statistics, sys; print("%.3f" % statistics.median(map(float, sys.argv[2:])), sys.argv[1])' "$rss" "${times[@]}"
}
read -r t_wide _ < <(median_frame wide "$small" "$QUORLIX" "$WORK")
read -r t_wide_csv _ < <(median_frame tool-wide-csv "$small" "$QUORLIX" "$WORK")
echo "python wide frame $label  ${t_wide}s  tool csv + read_csv ${t_wide_csv}s  frame/csv $(ratio "$t_wide" "$t_wide_csv")x (at most 1.2x)"
read -r _ rss_long < <(median_frame long "$small" "$QUORLIX" "$WORK")
read -r _ rss_long_csv < <(median_frame tool-long-csv "$small" "$QUORLIX" "$WORK")
echo "python long frame $label  peak-rss $(mib "$rss_long") MiB  read_csv $(mib "$rss_long_csv") MiB  frame/read_csv $(ratio "$rss_long" "$rss_long_csv")x (at most 1.5x)"

# 10,000 distinct tags: 2,000 filings of five tags of their own each, a frame of 10,024 columns.
distinct="$WORK/distinct_tags"
if [ ! -f "$distinct.complete" ]; then
  rm -rf "$distinct"
  python3 - "$distinct" "$ROOT/tests/data/schedules/bank_10k_1997_article9.txt" <<'PY'
import os, sys
folder, sample = sys.argv[1:]
data = open(sample, "rb").read()
header = data[:data.find(b"<DOCUMENT>")]
os.makedirs(folder, exist_ok=True)
for n in range(2000):
    tags = b"".join(b"<T%05d-X> %d\n" % (n * 5 + k, n * 10 + k) for k in range(5))
    with open(os.path.join(folder, "%04d.txt" % n), "wb") as out:
        out.write(header + b"<DOCUMENT>\n<TYPE>EX-27\n<TEXT>\n<ARTICLE> 5\n<CASH> 100\n" + tags + b"</TEXT>\n</DOCUMENT>\n")
PY
  touch "$distinct.complete"
fi
read -r t_distinct _ < <(median_frame wide "$distinct" "$QUORLIX" "$WORK")
read -r t_distinct_csv _ < <(median_frame tool-wide-csv "$distinct" "$QUORLIX" "$WORK")
echo "python wide frame 10000 distinct tags  ${t_distinct}s  tool csv + read_csv ${t_distinct_csv}s  frame/csv $(ratio "$t_distinct" "$t_distinct_csv")x (at most 3x)"
