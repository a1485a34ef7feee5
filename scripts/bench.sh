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
# Idle cost: quillmere.exe and a floor program (a message-only window with a
# one-second timer and nothing else) side by side for 60 s. Auto-clean is off
# so that no clean falls into the window: this is the cost of staying resident.
idle_seconds=60
appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% | tr -d '\r')")
mkdir -p "$appdata/Quillmere"
printf '[Clean]\r\nauto_clean=0\r\n' >"$appdata/Quillmere/config.ini"
wine build/quillmere.exe </dev/null &
wine build/bench/idle_floor.exe </dev/null &
sleep 10  # past start-up

# CPU seconds (user + system) of a Linux process, from /proc/<pid>/stat.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
quillmere_pid=$(pgrep -f 'quillmere\.exe' | head -n1)
floor_pid=$(pgrep -f 'idle_floor\.exe' | head -n1)
if [ -z "$quillmere_pid" ] || [ -z "$floor_pid" ]; then
  echo "idle: a program did not start" >&2
  exit 1
fi
quillmere_start=$(cpu_ticks "$quillmere_pid")
floor_start=$(cpu_ticks "$floor_pid")
sleep "$idle_seconds"
quillmere_ticks=$(( $(cpu_ticks "$quillmere_pid") - quillmere_start ))
floor_ticks=$(( $(cpu_ticks "$floor_pid") - floor_start ))
hz=$(getconf CLK_TCK)
peak_kb() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }

echo
echo "== idle ($idle_seconds s side by side, auto-clean off)"
awk -v q="$quillmere_ticks" -v f="$floor_ticks" -v hz="$hz" -v s="$idle_seconds" \
    -v qm="$(peak_kb "$quillmere_pid")" -v fm="$(peak_kb "$floor_pid")" 'BEGIN {
  printf "%-14s %12s %14s %16s\n", "program", "CPU seconds", "share of core", "peak memory"
  printf "%-14s %12.2f %13.3f%% %13.1f MB\n", "quillmere.exe", q / hz, 100 * q / hz / s, qm / 1024
  printf "%-14s %12.2f %13.3f%% %13.1f MB\n", "idle_floor.exe", f / hz, 100 * f / hz / s, fm / 1024
  printf "%-14s %12.2f %13.3f%% %13.1f MB\n", "difference", (q - f) / hz, 100 * (q - f) / hz / s, (qm - fm) / 1024
}'
exit "$status"
