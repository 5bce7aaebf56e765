#!/usr/bin/env bash
# .ci/install-deps against stand-in apt-get, dpkg, dpkg-query and sudo placed first
# on PATH: a package index that fails to download, a 32-bit package that cannot be
# installed, and a 64-bit one that cannot.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/quorlix-install-deps.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# Nothing is installed; every call is logged.
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
exit 1
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
echo "dpkg $*" >>"$FAKE_LOG"
EOF
cat >"$work/bin/sudo" <<'EOF'
#!/bin/sh
exec "$@"
EOF
# FAKE_UPDATE_FAILURES: how many updates fail before one succeeds (all when "always").
# FAKE_UNINSTALLABLE: a package whose install fails as apt fails it.
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/bash
echo "apt-get $*" >>"$FAKE_LOG"
case " $* " in
  *" update "*)
    tries=$(grep -c 'apt-get update' "$FAKE_LOG")
    if [ "$FAKE_UPDATE_FAILURES" = always ] || [ "$tries" -le "$FAKE_UPDATE_FAILURES" ]; then
      echo "E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-i386/Packages.xz  File has unexpected size" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
  *" install "*)
    for package in "$@"; do
      if [ "$package" = "$FAKE_UNINSTALLABLE" ]; then
        echo "E: Unable to locate package $package" >&2
        exit 100
      fi
    done
    for package in "$@"; do
      case $package in -*) ;; install) ;; *) echo "Setting up $package (1.0) ..." ;; esac
    done ;;
esac
EOF
chmod +x "$work/bin/"*

failures=0
# run NAME EXPECTED_STATUS UPDATE_FAILURES UNINSTALLABLE ARGS...: runs the script, keeps its output and log.
run() {
  local name=$1 expected=$2
  export FAKE_UPDATE_FAILURES=$3 FAKE_UNINSTALLABLE=$4 FAKE_LOG=$work/$name.log
  shift 4
  : >"$FAKE_LOG"
  local status=0
  PATH=$work/bin:$PATH APT_RETRY_PAUSE=0 "$source_dir/.ci/install-deps" "$@" >"$work/$name.out" 2>&1 || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL $name: exit $status, expected $expected"; cat "$work/$name.out"; failures=$((failures + 1))
  fi
}
expect() {  # expect NAME WHAT PATTERN FILE: the file holds a line matching the pattern
  grep -qE -- "$3" "$work/$1.$4" || { echo "FAIL $1: $2"; cat "$work/$1.out" "$work/$1.log"; failures=$((failures + 1)); }
}
count() {  # count NAME WHAT PATTERN N: the log holds N lines matching the pattern
  local n
  n=$(grep -cE -- "$3" "$work/$1.log" || true)
  [ "$n" -eq "$4" ] || { echo "FAIL $1: $2 ($n, expected $4)"; cat "$work/$1.out" "$work/$1.log"; failures=$((failures + 1)); }
}

run index_fails_twice 0 2 none --win32
count index_fails_twice "the update is tried until it works" '^apt-get update' 3
count index_fails_twice "64-bit and 32-bit packages in two steps" '^apt-get install' 2
expect index_fails_twice "the 32-bit step is wine32 alone" '^apt-get install .* wine32:i386$' log
expect index_fails_twice "the i386 architecture is added" '^dpkg --add-architecture i386$' log

run index_never_comes 0 always none --win32
count index_never_comes "the update is tried three times" '^apt-get update' 3
expect index_never_comes "it says it goes on" 'going on with the package indexes apt has' out
count index_never_comes "it still installs both steps" '^apt-get install' 2

run no_wine32 0 0 wine32:i386 --win32
expect no_wine32 "one line names the skipped tests" '^the 32-bit Wine tests will be skipped: wine32:i386 could not be installed' out
expect no_wine32 "the 64-bit packages are set up" 'set up wine64' out

run no_cmake 100 0 cmake --win32
expect no_cmake "apt's message is shown" 'E: Unable to locate package cmake' out
count no_cmake "nothing is tried after the failed 64-bit step" 'wine32:i386' 0

run native_only 0 0 none
count native_only "no 32-bit step without --win32" 'i386' 0
count native_only "one install step" '^apt-get install' 1

[ "$failures" -eq 0 ] && echo "install-deps: every case as expected"
exit "$failures"
