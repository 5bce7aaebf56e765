#!/usr/bin/env bash
# Installs a build into a temporary tree with DESTDIR, checks the shared library's
# soname, then builds both examples against that tree alone and runs them.
#   tests/install/install_test.sh BUILD_DIR PREFIX LIBDIR
# The tree lies outside the source and build folders, so that nothing can be
# found there by accident.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 prefix=$2 libdir=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/quorlix-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root

DESTDIR=$root cmake --install "$build" >/dev/null
library=$root$prefix/$libdir/libquorlix.so.1
dynamic=$(readelf -d "$library")
grep -q 'Library soname: \[libquorlix.so.1\]' <<<"$dynamic" ||
  { echo "FAIL: $library has no soname libquorlix.so.1" >&2; echo "$dynamic" >&2; exit 1; }
test -L "$root$prefix/$libdir/libquorlix.so" || { echo "FAIL: no development link libquorlix.so" >&2; exit 1; }
# Relocatable: nothing in the CMake package names the build machine's folders.
if grep -rlF -e "$source_dir" -e "$(cd "$build" && pwd)" "$root$prefix/$libdir/cmake/quorlix"; then
  echo "FAIL: the CMake package names a folder of the build machine" >&2; exit 1
fi

"$source_dir/examples/build_and_run.sh" "$work/examples" "$root" "$prefix" "$libdir"
echo "installed tree works: $(cd "$root" && find . -type f -o -type l | sort | tr '\n' ' ')"
