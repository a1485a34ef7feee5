#!/usr/bin/env bash
# Builds Quillmere and runs every benchmark program in build/bench/ under Wine,
# in a fresh prefix on a virtual display of its own, like scripts/test.sh.
# The programs print their figures; nothing here judges them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows-x64
cmake --build --preset windows-x64

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/quillmere-bench.XXXXXX")
xvfb_pid=""
cleanup() {
  if [ -d "$run_dir/prefix" ]; then WINEPREFIX="$run_dir/prefix" wineserver -k 2>/dev/null || true; fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$run_dir"
}
trap cleanup EXIT

# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run_dir/display" 2>"$run_dir/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.1; done
[ -s "$run_dir/display" ] || { echo "Xvfb did not start:" >&2; cat "$run_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$run_dir/display")"

export WINEPREFIX="$run_dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "Preparing a fresh Wine prefix on display $DISPLAY..."
wineboot -i >/dev/null 2>&1
wineserver -w

status=0
for bench in build/bench/*.exe; do
  [ -e "$bench" ] || { echo "No benchmark programs in build/bench/." >&2; exit 1; }
  echo
  echo "== $(basename "$bench" .exe)"
  # Keep going after a failed program, but say so in the exit status.
  wine "$bench" </dev/null || { echo "$(basename "$bench") failed with exit code $?" >&2; status=1; }
done
exit "$status"
