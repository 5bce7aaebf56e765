#!/usr/bin/env bash
# Builds the examples against an installed Quorlix and runs them on the test data.
#   examples/build_and_run.sh WORK_DIR [ROOT PREFIX LIBDIR]
# ROOT is a DESTDIR tree the library was installed into with PREFIX and LIBDIR
# (relative to PREFIX); without them, the system's. The compilers are told only
# where the installed files are.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$1
root=${2:-}
rm -rf "$work" && mkdir -p "$work/out-c" "$work/out-cmake"

if [ -n "$root" ]; then
  prefix=$3 libdir=$4
  # pkg-config reads only the tree's quorlix.pc and puts ROOT before its paths.
  export PKG_CONFIG_LIBDIR=$root$prefix/$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root
  export LD_LIBRARY_PATH=$root$prefix/$libdir
  cmake_args=(-DCMAKE_PREFIX_PATH="$root$prefix")
else
  cmake_args=()
fi

echo "== C with pkg-config: cc decode_filing.c $(pkg-config --cflags --libs quorlix)"
cc -Wall -Wextra -Werror -o "$work/decode_filing" "$source_dir/examples/c/decode_filing.c" \
  $(pkg-config --cflags --libs quorlix)
"$work/decode_filing" "$source_dir/tests/data/filing/apple_10q_2000q1_ex27.txt" "$work/out-c"
grep -q "^Total Assets  *7,586" "$work/out-c/schedule.txt"

echo "== C with pkg-config: the schedules' table"
cc -Wall -Wextra -Werror -o "$work/schedules_table" "$source_dir/examples/c/schedules_table.c" \
  $(pkg-config --cflags --libs quorlix)
"$work/schedules_table" "$source_dir"/tests/data/filing/*.txt > "$work/out-c/schedules.csv"
grep -q ",0000912057-00-003201,320193,APPLE COMPUTER INC,10-Q,2000-02-01,2000-01-01," "$work/out-c/schedules.csv"

echo "== C++ with find_package(quorlix 1)"
cmake -S "$source_dir/examples/cmake" -B "$work/cmake-build" "${cmake_args[@]}" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
"$work/cmake-build/tables_of_page" "$source_dir/tests/data/html/edgar_ex21_2012_subsidiaries.htm" "$work/out-cmake"
cmp "$work/out-cmake/tables.txt" "$source_dir/tests/data/html/edgar_ex21_2012_subsidiaries.expected.txt"
