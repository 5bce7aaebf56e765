#!/usr/bin/env bash
# Runs every fuzz target of the fuzz preset for a bounded time, starting from its
# seed corpus (copied, so the checked-in seeds stay as they are).
# Usage: fuzz/run_fuzzers.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
build=build/fuzz
# Memory-backed when the machine has it: the targets write and read files per input.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$work/$name"
  cp -r fuzz/corpus/"$name"/. "$work/$name"/ 2>/dev/null || true
  dict=()
  [ -f "fuzz/${name#fuzz_}.dict" ] && dict=(-dict="fuzz/${name#fuzz_}.dict")
  echo "== $name: ${seconds}s"
  "$target" "$work/$name" "${dict[@]}" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
  if ls "$work"/crash-* "$work"/timeout-* "$work"/leak-* >/dev/null 2>&1; then
    echo "fuzz target $name failed:" && ls "$work"/crash-* "$work"/timeout-* "$work"/leak-* 2>/dev/null
    exit 1
  fi
done
