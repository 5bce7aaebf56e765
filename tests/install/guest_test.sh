#!/usr/bin/env bash
# Builds the CMake example with Quorlix inside it (add_subdirectory), as a guest:
# the example links quorlix::quorlix as it does against an installed package, and
# Quorlix builds neither its tests, its fuzzers nor its tool, nor uses -Werror.
#   tests/install/guest_test.sh
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorlix-guest.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$source_dir/examples/cmake" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DQUORLIX_SOURCE_DIR="$source_dir" >/dev/null
for folder in tests fuzz cli; do
  [ ! -e "$work/build/quorlix/$folder" ] || { echo "FAIL: a guest build configures $folder/" >&2; exit 1; }
done
! grep -q -- -Werror "$work/build/compile_commands.json" || { echo "FAIL: a guest build uses -Werror" >&2; exit 1; }
cmake --build "$work/build" >/dev/null
mkdir "$work/out"
"$work/build/tables_of_page" "$source_dir/tests/data/html/edgar_ex21_2012_subsidiaries.htm" "$work/out"
cmp "$work/out/tables.txt" "$source_dir/tests/data/html/edgar_ex21_2012_subsidiaries.expected.txt"
echo "guest build works"
