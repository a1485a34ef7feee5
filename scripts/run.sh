#!/usr/bin/env bash
# Builds quillmere.exe and starts it under Wine: on your display when there is
# one, otherwise on a virtual display of its own.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows-x64
cmake --build --preset windows-x64 --target quillmere

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
stop() {
  wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
if [ -z "${DISPLAY:-}" ]; then
  display_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$display_file")"
  rm -f "$display_file"
  trap stop EXIT
  trap 'exit 130' INT TERM
  echo "No display found: Quillmere runs on the virtual display $DISPLAY (Xvfb). Press Ctrl+C to stop it."
fi

echo "Starting build/quillmere.exe under Wine (prefix ${WINEPREFIX:-$HOME/.wine}); quit it with Exit in its tray menu."
set +e
wine build/quillmere.exe
code=$?
set -e
echo "Quillmere ended with exit code $code."
exit "$code"
