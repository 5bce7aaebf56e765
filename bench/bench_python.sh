#!/usr/bin/env bash
# The Python package on 20,000 small filings: decode_filings on a 2-thread pool
# against the same calls made one after another, and against the tool's batch
# form when the build has it.
# Usage: bench/bench_python.sh [COUNT]   (default 20000; BENCH_RUNS sets the runs per median, default 3)
if [ -z "${BENCH_WORK:-}" ] && [ -w /dev/shm ]; then BENCH_WORK=/dev/shm/quorlix-bench-python; fi
source "$(dirname "$0")/bench_lib.sh"
require_tools /usr/bin/python3
count=${1:-20000}
filings="$WORK/small_filings_$count"
[ -d "$filings" ] || /usr/bin/python3 "$BENCH_DIR/gen_small_filings.py" "$count" "$filings" \
  "$ROOT"/tests/data/filing/*.txt "$ROOT"/tests/data/verify/apple_8k_2000_no_ex27.txt
export QUORLIX_LIBRARY=${QUORLIX_LIBRARY:-$ROOT/build/release/src/libquorlix.so}
PYTHONPATH="$ROOT/python${PYTHONPATH:+:$PYTHONPATH}" \
  /usr/bin/python3 "$BENCH_DIR/bench_python.py" "$filings" "$WORK" "$QUORLIX" "${BENCH_RUNS:-3}"
