#!/usr/bin/env bash
# quorlix verify against file --mime-type on COUNT small files of mixed types, each
# tool run once over all of them (xargs with room for every name in one command).
# Usage: bench/bench_verify.sh [COUNT]
source "$(dirname "$0")/bench_lib.sh"
require_tools hyperfine file xargs python3
count=${1:-10000}
folder="$WORK/verify_${count}"
[ -f "$folder/list.txt" ] || python3 "$BENCH_DIR/gen_verify_files.py" "$count" "$folder"

one_process="cd '$folder' && xargs -s 2000000 -a list.txt"
# Some files disagree on purpose, so quorlix exits non-zero; both must still have
# looked at every file, one line each, in a single process.
ours="$one_process '$QUORLIX' verify >'$WORK/verify_out.txt' || true"
theirs="$one_process file --mime-type >'$WORK/file_out.txt'"
bash -c "$ours" && bash -c "$theirs"
for out in verify_out.txt file_out.txt; do
  lines=$(wc -l <"$WORK/$out")
  [ "$lines" -eq "$count" ] || { echo "$out has $lines lines, expected $count" >&2; exit 1; }
done
disagree=$(grep -vc ': ok$' "$WORK/verify_out.txt" || true)

t_cat=$(median_seconds "$one_process cat >'$WORK/cat_out'")
t_ours=$(median_seconds "$ours")
t_theirs=$(median_seconds "$theirs")
rss=$(peak_rss_bytes "$ours")
bytes=$(du -sb --exclude=list.txt "$folder" | cut -f1)
python3 -c 'import sys; c,d,b,a,t,k,r=sys.argv[1:]; print("verify %s files (%d disagree, %.1f MiB)  quorlix %ss  file %ss  speedup %.1fx  cat %ss  vs-cat %.1fx  peak-rss %.1f MiB" % (c,int(d),int(b)/2**20,a,t,float(t)/float(a),k,float(a)/float(k),int(r)/2**20))' \
  "$count" "$disagree" "$bytes" "$t_ours" "$t_theirs" "$t_cat" "$rss"
