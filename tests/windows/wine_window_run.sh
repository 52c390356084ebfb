#!/usr/bin/env bash
# Runs one window test program under wine on its own X server (Xvfb):
#   wine_window_run.sh PREFIX_DIR DPI PROGRAM.exe ARGS...
# The prefix is the test's own: the screen's DPI (wine's LogPixels) is set in it, and its
# wineserver and desktop process are ended afterwards, so the next run meets no process tied to
# an X server that is gone. wine's output goes to files, copied out at the end.
set -u
prefix=$1
dpi=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
work=$(mktemp -d "${TMPDIR:-/tmp}/edb-wine-window.XXXXXX")
trap 'rm -rf "$work"' EXIT
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot --init >"$prefix.boot.log" 2>&1 </dev/null
    wineserver -w
  fi
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >"$work/reg.log" 2>&1 </dev/null
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f >>"$work/reg.log" 2>&1 </dev/null
  # A wine desktop of its own: wine draws the title bars (Xvfb has no window manager), so the
  # screenshots show whole windows.
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
    >>"$work/reg.log" 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1900x1180 /f \
    >>"$work/reg.log" 2>&1 </dev/null
  wineserver -w
) 9>"$prefix.lock"
xvfb-run -a -s "-screen 0 1920x1200x24" wine "$@" >"$work/out" 2>"$work/err" </dev/null
status=$?
WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
cat "$work/out"
cat "$work/err" >&2
exit $status
