# Shared by the benchmark scripts: timing with hyperfine, peak memory with
# /usr/bin/time, and one result line per job:
#   <job> <size>  quorlix <t>s  <tool> <t>s  speedup <r>x  cat <t>s  vs-cat <c>x  peak-rss <MiB> MiB = <m>x input  cpu <t>s
# cat is the physical reference: `cat IN > OUT` reads the input and writes it out
# again, timed in turns with quorlix; vs-cat is quorlix's time over cat's. cpu is
# quorlix's processor time, user and system, of all its threads.
# Source it; set QUORLIX to the tool to measure (default: the release build).

set -euo pipefail
BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$BENCH_DIR/.." && pwd)
# Inputs and outputs live in memory when there is room (2 GiB free), so that the
# figures compare the tools rather than the disk both of them write to.
if [ -z "${BENCH_WORK:-}" ] && [ -w /dev/shm ] &&
  [ "$(df --output=avail -k /dev/shm 2>/dev/null | tail -n 1)" -ge $((2 * 1024 * 1024)) ]; then
  BENCH_WORK=/dev/shm/quorlix-bench
fi
WORK=${BENCH_WORK:-$BENCH_DIR/work}
QUORLIX=${QUORLIX:-$ROOT/build/release/cli/quorlix}
RUNS=${BENCH_RUNS:-5}
mkdir -p "$WORK"

require_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install it first" >&2; exit 1; }
  done
  [ -x "$QUORLIX" ] || { echo "build the release preset first: $QUORLIX" >&2; exit 1; }
}

# Median wall time in seconds of a shell command over $RUNS runs.
median_seconds() {
  local json="$WORK/hyperfine.json"
  hyperfine --warmup 1 --runs "$RUNS" --style none --export-json "$json" "$1" >/dev/null
  python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][0]["median"])' "$json"
}

# Peak resident set size in bytes of a shell command.
peak_rss_bytes() {
  local kib
  kib=$( { /usr/bin/time -f '%M' bash -c "$1" >/dev/null; } 2>&1 | tail -n 1)
  echo $((kib * 1024))
}

# Median times of two shell commands, run in turns (one warm-up round first), so
# that a change in the machine's speed during the runs reaches both alike: the
# ratio of the two is what the lines report. The shell's own start, timed in the
# same turns, is taken off both, as hyperfine does. Prints both, one per line.
paired_median_seconds() {
  python3 - "$RUNS" "$1" "$2" <<'PY'
import resource, statistics, subprocess, sys, time
runs, commands = int(sys.argv[1]), sys.argv[2:] + [":"]
times = [[] for _ in commands]
cpu = [[] for _ in commands]
for round_ in range(runs + 1):
    for k, command in enumerate(commands):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(["bash", "-c", command], check=True, stdout=subprocess.DEVNULL)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if round_:
            times[k].append(time.perf_counter() - start)
            cpu[k].append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
shell, shell_cpu = statistics.median(times.pop()), statistics.median(cpu.pop())
for values in times:
    print("%.3f" % max(statistics.median(values) - shell, 0.0))
# The processor time of the last command: more than its wall time when it reads ahead on a second thread.
print("%.3f" % max(statistics.median(cpu[-1]) - shell_cpu, 0.0))
PY
}

# report JOB SIZE_LABEL INPUT_FILE QUORLIX_COMMAND TOOL_NAME TOOL_COMMAND
report() {
  local job=$1 label=$2 input=$3 ours=$4 name=$5 theirs=$6
  local t_ours t_theirs t_cat cpu_ours rss size
  { read -r t_cat; read -r t_ours; read -r cpu_ours; } < <(paired_median_seconds "rm -f '$WORK/cat_out'; cat '$input' > '$WORK/cat_out'" "$ours")
  t_theirs=$(median_seconds "$theirs")
  rss=$(peak_rss_bytes "$ours")
  size=$(stat -c %s "$input")
  python3 -c 'import sys; j,l,a,n,b,c,r,s,u=sys.argv[1:]; print("%s %s  quorlix %ss  %s %ss  speedup %.1fx  cat %ss  vs-cat %.1fx  peak-rss %.1f MiB = %.2fx input  cpu %ss" % (j,l,a,n,b,float(b)/float(a),c,float(a)/float(c),int(r)/2**20,int(r)/int(s),u))' \
    "$job" "$label" "$t_ours" "$name" "$t_theirs" "$t_cat" "$rss" "$size" "$cpu_ours"
}

# Medians of several shell commands run in turns, so that a machine shared with
# other work slows them alike; prints one median per line.
medians() {
  python3 - "$RUNS" "$@" <<'PY'
import statistics, subprocess, sys, time
runs, commands = int(sys.argv[1]), sys.argv[2:]
times = [[] for _ in commands]
for round_ in range(runs + 1):  # the first round warms the page cache up
    for k, command in enumerate(commands):
        start = time.perf_counter()
        subprocess.run(["bash", "-c", command], check=True, stdout=subprocess.DEVNULL)
        if round_:
            times[k].append(time.perf_counter() - start)
for values in times:
    print("%.3f" % statistics.median(values))
PY
}

ratio() { python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }
mib() { python3 -c 'import sys; print("%.1f" % (int(sys.argv[1]) / 2**20))' "$1"; }
