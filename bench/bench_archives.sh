#!/usr/bin/env bash
# quorlix schedules on EDGAR's archives as they come (bench/gen_archives.py): a
# daily tar.gz of 3,000 filings against `tar -xzOf` of it into /dev/null, and a
# daily gzip of 3,000 submissions one after another against `gzip -dc`; eight
# such archives at -j 2 against -j 1, with the machine's own ceiling for two
# workers (two -j 1 processes at once, each on half of them); then the long
# form's peak memory as the archive grows four times over.
# Usage: bench/bench_archives.sh   (BENCH_RUNS runs per median, default 5)
BENCH_WORK=${BENCH_WORK:-/dev/shm/quorlix-bench-archives}
source "$(dirname "$0")/bench_lib.sh"
require_tools python3 tar gzip
RUNS=${BENCH_RUNS:-5}

# make FORM COUNT OUTPUT: an archive made once and kept for later runs.
make() {
  [ -f "$3" ] || python3 "$BENCH_DIR/gen_archives.py" "$1" "$2" "$3.part" "$ROOT"/tests/data/filing/*.txt
  [ -f "$3" ] || mv "$3.part" "$3"
}

daily_tar="$WORK/20000201.nc.tar.gz"
daily_gzip="$WORK/20000202.nc.gz"
make tar 3000 "$daily_tar"
make daily 3000 "$daily_gzip"
tool="'$QUORLIX' schedules -q --wide -j 1"

{ read -r t_tar; read -r t_ours_tar; read -r t_gzip; read -r t_ours_gzip; } < <(medians \
  "tar -xzOf '$daily_tar' > /dev/null" "$tool '$daily_tar' > /dev/null" \
  "gzip -dc '$daily_gzip' > /dev/null" "$tool '$daily_gzip' > /dev/null")
unpacked=$(gzip -dc "$daily_tar" | wc -c)
echo "archives tar.gz of 3000 filings $(mib "$(stat -c %s "$daily_tar")")MiB ($(mib "$unpacked")MiB unpacked)  quorlix --wide -j1 ${t_ours_tar}s  tar -xzOf ${t_tar}s  ratio $(ratio "$t_ours_tar" "$t_tar")x"
echo "archives gzip of 3000 submissions $(mib "$(stat -c %s "$daily_gzip")")MiB  quorlix --wide -j1 ${t_ours_gzip}s  gzip -dc ${t_gzip}s  ratio $(ratio "$t_ours_gzip" "$t_gzip")x"

# Eight daily archives, each a file of its own (a file named twice is read once).
eight=()
for i in 1 2 3 4 5 6 7 8; do
  [ -f "$WORK/day_$i.tar.gz" ] || cp "$daily_tar" "$WORK/day_$i.tar.gz"
  eight+=("'$WORK/day_$i.tar.gz'")
done
{ read -r t_j1; read -r t_j2; read -r t_pair; } < <(medians \
  "'$QUORLIX' schedules -q --wide -j 1 ${eight[*]} > /dev/null" \
  "'$QUORLIX' schedules -q --wide -j 2 ${eight[*]} > /dev/null" \
  "'$QUORLIX' schedules -q --wide -j 1 ${eight[*]:0:4} > /dev/null & '$QUORLIX' schedules -q --wide -j 1 ${eight[*]:4} > /dev/null; wait")
echo "archives 8 tar.gz of 3000 filings  -j2 ${t_j2}s  -j1 ${t_j1}s  speedup $(ratio "$t_j1" "$t_j2")x  (ceiling: two -j1 processes on half each ${t_pair}s, $(ratio "$t_j1" "$t_pair")x)"

# The long form's peak memory (one block and the longest line per thread, and
# libarchive's buffers) as the archive grows from 3,000 filings to 12,000.
large_tar="$WORK/20000203.nc.tar.gz"
make tar 12000 "$large_tar"
echo "archives peak-rss long form -j1  3000 filings $(mib "$(peak_rss_bytes "'$QUORLIX' schedules -q -j 1 '$daily_tar' > /dev/null")") MiB  12000 filings $(mib "$(peak_rss_bytes "'$QUORLIX' schedules -q -j 1 '$large_tar' > /dev/null")") MiB"
