#!/usr/bin/env bash
# quorlix panel against the wide form of quorlix schedules on the 20,000 small
# filings of the batch bench (each the header and the schedule document of a
# sample filing, bench/gen_small_filings.py), both at -j 1 and at -j 2, timed in
# turns; the panel should take at most 1.3 times the wide form's time. Then the
# panel's peak memory on 20,000 and 100,000 filings of as many companies (every
# schedule a row of its own that the panel keeps), beside the wide form's, and
# what 100,000 kept schedules cost.
# Usage: bench/bench_panel.sh   (BENCH_RUNS runs per median, default 5)
BENCH_WORK=${BENCH_WORK:-/dev/shm/quorlix-bench-panel}
source "$(dirname "$0")/bench_lib.sh"
require_tools python3
RUNS=${BENCH_RUNS:-5}

# generate FOLDER COUNT [--distinct-companies]: the small filings, once.
generate() {
  local folder=$1 count=$2
  shift 2
  if [ ! -f "$folder.complete" ]; then
    rm -rf "$folder"
    python3 "$BENCH_DIR/gen_small_filings.py" "$@" "$count" "$folder" "$ROOT"/tests/data/filing/*.txt
    touch "$folder.complete"
  fi
  find "$folder" -type f -print0 | sort -z > "$folder.list"
}

small="$WORK/small_20000"
generate "$small" 20000
label="20000 filings $(du -sm --apparent-size "$small" | cut -f1)MiB"
{ read -r t_wide1; read -r t_panel1; read -r t_wide2; read -r t_panel2; } < <(medians \
  "'$QUORLIX' schedules --wide -q -j 1 -0 -T '$small.list' > /dev/null" \
  "'$QUORLIX' panel -q -j 1 -0 -T '$small.list' > /dev/null" \
  "'$QUORLIX' schedules --wide -q -j 2 -0 -T '$small.list' > /dev/null" \
  "'$QUORLIX' panel -q -j 2 -0 -T '$small.list' > /dev/null")
echo "panel $label  -j1 ${t_panel1}s  wide -j1 ${t_wide1}s  panel/wide $(ratio "$t_panel1" "$t_wide1")x (at most 1.3x)"
echo "panel $label  -j2 ${t_panel2}s  wide -j2 ${t_wide2}s  panel/wide $(ratio "$t_panel2" "$t_wide2")x  panel speedup -j2 $(ratio "$t_panel1" "$t_panel2")x"

# Memory: every filing a company of its own, so that the panel keeps every schedule.
companies="$WORK/companies_100000"
generate "$companies" 100000 --distinct-companies
head -z -n 20000 "$companies.list" > "$companies.20000.list"
# The same time ratio when the panel keeps every schedule.
{ read -r t_wide_kept; read -r t_panel_kept; } < <(medians \
  "'$QUORLIX' schedules --wide -q -j 1 -0 -T '$companies.20000.list' > /dev/null" \
  "'$QUORLIX' panel -q -j 1 -0 -T '$companies.20000.list' > /dev/null")
echo "panel 20000 filings of as many companies  -j1 ${t_panel_kept}s  wide -j1 ${t_wide_kept}s  panel/wide $(ratio "$t_panel_kept" "$t_wide_kept")x"
rss_20000=$(peak_rss_bytes "'$QUORLIX' panel -q -j 2 -0 -T '$companies.20000.list' > /dev/null")
rss_100000=$(peak_rss_bytes "'$QUORLIX' panel -q -j 2 -0 -T '$companies.list' > /dev/null")
rss_wide=$(peak_rss_bytes "'$QUORLIX' schedules --wide -q -j 2 -0 -T '$companies.list' > /dev/null")
rows=$("$QUORLIX" panel -q -j 2 -0 -T "$companies.list" | wc -l)
per_100000=$(python3 -c 'import sys; a, b = map(int, sys.argv[1:]); print("%.1f" % ((b - a) / 80000 * 100000 / 2**20))' "$rss_20000" "$rss_100000")
echo "panel peak-rss -j2  20000 schedules $(mib "$rss_20000") MiB  100000 schedules $(mib "$rss_100000") MiB ($((rows - 1)) rows)  per 100000 schedules ${per_100000} MiB  wide form 100000 schedules $(mib "$rss_wide") MiB"
