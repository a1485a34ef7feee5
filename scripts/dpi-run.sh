#!/usr/bin/env bash
# Runs one end-to-end test program at one display scale: a copy of the test
# run's Wine prefix (or a fresh one) with LogPixels set to the DPI, on a
# virtual display of its own of the given size; both gone when it ends.
# Usage: scripts/dpi-run.sh DPI WIDTHxHEIGHT TEST.exe [arguments]
set -euo pipefail
dpi=$1
wine_screen=$2
shift 2

wine_prefix_source=${QUILLMERE_TEST_PREFIX:-}
. "$(dirname "$0")/wine-session.sh"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# The server reads the scale when it starts.
wineserver -k 2>/dev/null || true
wineserver -w
export QUILLMERE_DPI="$dpi"
wine "$@"
