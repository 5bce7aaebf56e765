#!/usr/bin/env bash
# Runs every fuzz target of the fuzz preset for a bounded time, starting from its
# seed corpus (copied, so the checked-in seeds stay as they are).
# Usage: fuzz/run_fuzzers.sh [SECONDS_PER_TARGET]
#
# libFuzzer's length control keeps mutated inputs short for a long while, so the
# last quarter of each target's time runs with -len_control=0: inputs grow to the
# full -max_len at once, and the large seeds (whole test pages and filings) reach
# the buffer growth that short inputs never do. Inputs stay at most 64 KiB; each
# target also checks an input's large form (fuzz/fuzz_support.h), up to 4 MiB,
# which reaches reading in many blocks, the block edges and the read-ahead thread.
# Each phase prints its executions and its last coverage line (cov: edges, ft: features).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
long_seconds=$((seconds / 4))
short_seconds=$((seconds - long_seconds))
build=build/fuzz
# Memory-backed when the machine has it: the targets write and read files per input.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work

# run_phase TARGET CORPUS SECONDS [LIBFUZZER OPTIONS...]
run_phase() {
  local target=$1 corpus=$2 phase_seconds=$3
  shift 3
  "$target" "$corpus" "$@" -max_total_time="$phase_seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" 2>&1 | grep -E 'stat::number_of_executed_units|DONE|ERROR|SUMMARY|Done' || true
  if ls "$work"/crash-* "$work"/timeout-* "$work"/leak-* >/dev/null 2>&1; then
    echo "fuzz target $(basename "$target") failed:" && ls "$work"/crash-* "$work"/timeout-* "$work"/leak-* 2>/dev/null
    exit 1
  fi
}

for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$work/$name"
  cp -r fuzz/corpus/"$name"/. "$work/$name"/ 2>/dev/null || true
  dict=()
  [ -f "fuzz/${name#fuzz_}.dict" ] && dict=(-dict="fuzz/${name#fuzz_}.dict")
  echo "== $name: ${short_seconds}s, then ${long_seconds}s with -len_control=0"
  run_phase "$target" "$work/$name" "$short_seconds" "${dict[@]}"
  if [ "$long_seconds" -gt 0 ]; then
    run_phase "$target" "$work/$name" "$long_seconds" "${dict[@]}" -len_control=0
  fi
done
