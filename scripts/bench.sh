#!/usr/bin/env bash
# Builds Quillmere and runs every benchmark program in build/bench/ under Wine,
# in a fresh prefix on a virtual display of its own, like scripts/test.sh.
# The programs print their figures; nothing here judges them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows-x64
cmake --build --preset windows-x64

. scripts/wine-session.sh

echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores;" \
  "$(wine --version); $(uname -sr)"

status=0
for bench in build/bench/*_bench.exe; do
  [ -e "$bench" ] || { echo "No benchmark programs in build/bench/." >&2; exit 1; }
  echo
  echo "== $(basename "$bench" .exe)"
  # Keep going after a failed program, but say so in the exit status.
  wine "$bench" </dev/null || { echo "$(basename "$bench") failed with exit code $?" >&2; status=1; }
done
# Idle cost: quillmere.exe beside two floors for 60 s: tray_floor.exe (one
# tray icon, a one-second timer that reads the memory status and sends the
# same icon again) and idle_floor.exe (a message-only window with a
# one-second timer and nothing else). Auto-clean is off so that no clean
# falls into the window: this is the cost of staying resident.
idle_seconds=60
appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% | tr -d '\r')")
mkdir -p "$appdata/Quillmere"
printf '[Clean]\r\nauto_clean=0\r\n' >"$appdata/Quillmere/config.ini"
programs="quillmere.exe tray_floor.exe idle_floor.exe"
wine build/quillmere.exe </dev/null &
wine build/bench/tray_floor.exe </dev/null &
wine build/bench/idle_floor.exe </dev/null &
sleep 10  # past start-up

# The Linux process of a program of this session's prefix (others may run
# the same programs in prefixes of their own).
session_pid() {
  local pid
  for pid in $(pgrep -f "$1"); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return
    fi
  done
}
# CPU ticks (user + system) of a process, from /proc/<pid>/stat.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
status_kb() { awk -v key="$2:" '$1 == key {print $2}' "/proc/$1/status"; }
declare -A pid start
for program in $programs; do
  pid[$program]=$(session_pid "${program//./\\.}")
  [ -n "${pid[$program]}" ] || { echo "idle: $program did not start" >&2; exit 1; }
  start[$program]=$(cpu_ticks "${pid[$program]}")
done
sleep "$idle_seconds"

echo
echo "== idle ($idle_seconds s side by side, auto-clean off)"
hz=$(getconf CLK_TCK)
printf '%-16s %12s %14s %14s %14s\n' program "CPU seconds" "share of core" "resident" "peak resident"
for program in $programs; do
  p=${pid[$program]}
  awk -v name="$program" -v t="$(( $(cpu_ticks "$p") - start[$program] ))" -v hz="$hz" -v s="$idle_seconds" \
      -v rss="$(status_kb "$p" VmRSS)" -v hwm="$(status_kb "$p" VmHWM)" 'BEGIN {
    printf "%-16s %12.2f %13.3f%% %11.1f MB %11.1f MB\n", name, t / hz, 100 * t / hz / s, rss / 1024, hwm / 1024
  }'
done

# The same quillmere.exe once its popup has opened and closed: what the
# first popup leaves resident (Wine never unloads COM once loaded).
wine build/bench/popup_once.exe </dev/null || { echo "popup_once.exe failed" >&2; status=1; }
sleep 5
p=${pid[quillmere.exe]}
echo
echo "== quillmere.exe after its popup opened once"
awk -v rss="$(status_kb "$p" VmRSS)" -v hwm="$(status_kb "$p" VmHWM)" 'BEGIN {
  printf "%-16s %14s %14s\n%-16s %11.1f MB %11.1f MB\n", "program", "resident", "peak resident", "quillmere.exe",
    rss / 1024, hwm / 1024
}'
exit "$status"
