#!/usr/bin/env bash
# Runs one Windows program under wine for ctest and the differential check:
#   wine_run.sh PREFIX_DIR PROGRAM.exe ARGS...
# The prefix is private to the build tree and made once (under a lock, tests run in parallel).
# wine's output goes to files and is copied out afterwards: the wineserver it starts inherits
# whatever the program was given, and a pipe held open by it would stall the caller.
set -u
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot --init >"$prefix.boot.log" 2>&1 </dev/null
    wineserver -w
  fi
) 9>"$prefix.lock"
work=$(mktemp -d "${TMPDIR:-/tmp}/edb-wine.XXXXXX")
trap 'rm -rf "$work"' EXIT
wine "$@" >"$work/out" 2>"$work/err" </dev/null
status=$?
cat "$work/out"
cat "$work/err" >&2
exit $status
