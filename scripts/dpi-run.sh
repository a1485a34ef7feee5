#!/usr/bin/env bash
# Runs one end-to-end test program at one display scale: a copy of the test
# run's Wine prefix (or a fresh one) with LogPixels set to the DPI, on a
# virtual display of its own of the given size with a taskbar along its
# bottom, 48 pixels at 100 % scaled to the DPI; both gone when it ends.
# Usage: scripts/dpi-run.sh DPI WIDTHxHEIGHT TEST.exe [arguments]
set -euo pipefail
dpi=$1
wine_screen=$2
shift 2

wine_prefix_source=${QUILLMERE_TEST_PREFIX:-}
. "$(dirname "$0")/wine-session.sh"
# The work area that Wine reads from the root window, as a window manager
# with a panel would set it; Wine takes it when its server starts.
width=${wine_screen%x*}
height=${wine_screen#*x}
xprop -root -f _NET_WORKAREA 32c -set _NET_WORKAREA "0, 0, $width, $((height - dpi / 2))"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# The server reads the scale when it starts.
wineserver -k 2>/dev/null || true
wineserver -w
export QUILLMERE_DPI="$dpi"
wine "$@"
