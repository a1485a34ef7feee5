#!/usr/bin/env bash
# Runs one end-to-end test program at one display scale: a copy of the test
# run's Wine prefix (or a fresh one) with LogPixels set to the DPI, on a
# virtual display of its own of the given size; both gone when it ends.
# Usage: scripts/dpi-run.sh DPI WIDTHxHEIGHT TEST.exe [arguments]
set -euo pipefail
dpi=$1
screen=$2
shift 2

dir=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-dpi.XXXXXX")
xvfb=""
finish() {
  if [ -d "$dir/prefix" ]; then WINEPREFIX="$dir/prefix" wineserver -k 2>/dev/null || true; fi
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$dir"
}
trap finish EXIT

Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
[ -s "$dir/display" ] || { echo "Xvfb did not start:" >&2; cat "$dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$dir/display")"

export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "${QUILLMERE_TEST_PREFIX:-}" ] && [ -f "$QUILLMERE_TEST_PREFIX/system.reg" ]; then
  cp -a "$QUILLMERE_TEST_PREFIX" "$WINEPREFIX"
else
  wineboot -i >/dev/null 2>&1
fi
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# The server reads the scale when it starts.
wineserver -k 2>/dev/null || true
wineserver -w
export QUILLMERE_TEST_PREFIX="$WINEPREFIX" QUILLMERE_DPI="$dpi"
wine "$@"
