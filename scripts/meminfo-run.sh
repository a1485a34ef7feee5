#!/usr/bin/env bash
# Runs one end-to-end test program on a machine whose memory is nearly all
# in use: Wine reads the commit charge and its limit from /proc/meminfo,
# which a mount namespace of the run's own replaces with one that has 96 %
# of the RAM in use and no swap; the program and Wine's calls are the real
# ones, in a Wine prefix and on a virtual display of their own. Without user
# namespaces it runs on the machine's own figures.
# Usage: scripts/meminfo-run.sh TEST.exe [arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

staged=$(mktemp)
trap 'rm -f "$staged"' EXIT
total=$(awk '/^MemTotal:/ { print $2 }' /proc/meminfo)
printf 'MemTotal: %s kB\nMemFree: %s kB\nMemAvailable: %s kB\nBuffers: 0 kB\nCached: 0 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n' \
  "$total" $((total / 25)) $((total / 25)) >"$staged"

# The namespace must be allowed and must let the file be mounted over.
if unshare --user --map-root-user --mount sh -c 'mount --bind "$1" /proc/meminfo' probe "$staged" 2>/dev/null; then
  unshare --user --map-root-user --mount bash -c \
    'mount --bind "$1" /proc/meminfo && shift && . scripts/wine-session.sh && wine "$@"' meminfo-run "$staged" "$@"
else
  echo "meminfo-run: no mount namespace of its own here; the machine's own memory figures" >&2
  # The session's own exit trap takes the place of this one.
  rm -f "$staged"
  . scripts/wine-session.sh
  wine "$@"
fi
