# Sourced by scripts/test.sh, scripts/bench.sh and scripts/dpi-run.sh: a Wine
# prefix on a virtual display of its own, both gone when the script exits, so
# a run never touches your own Wine or desktop and two runs never collide.
# Set before sourcing, if wanted:
#   wine_screen         the display's size (default 1280x1024);
#   wine_prefix_source  a prefix to start from as a copy, when it has a
#                       system.reg (default: a fresh prefix).
# Sets run_dir, DISPLAY, WINEPREFIX and QUILLMERE_TEST_PREFIX.

run_dir=$(mktemp -d "${TMPDIR:-/tmp}/quillmere.XXXXXX")
xvfb_pid=""
end_wine_session() {
  if [ -d "$run_dir/prefix" ]; then WINEPREFIX="$run_dir/prefix" wineserver -k 2>/dev/null || true; fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$run_dir"
}
trap end_wine_session EXIT

# Xvfb picks a free display number and writes it to fd 3. No reset when the
# last client goes, so that what a run sets on the root window (the work
# area) stays while Wine restarts.
Xvfb -displayfd 3 -screen 0 "${wine_screen:-1280x1024}x24" -nolisten tcp -noreset 3>"$run_dir/display" \
  2>"$run_dir/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.1; done
[ -s "$run_dir/display" ] || { echo "Xvfb did not start:" >&2; cat "$run_dir/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$run_dir/display")"

export QUILLMERE_TEST_PREFIX="$run_dir/prefix"
export WINEPREFIX="$QUILLMERE_TEST_PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "${wine_prefix_source:-}" ] && [ -f "$wine_prefix_source/system.reg" ]; then
  cp -a "$wine_prefix_source" "$WINEPREFIX"
else
  echo "Preparing a fresh Wine prefix on display $DISPLAY..."
  wineboot -i >/dev/null 2>&1
  # Chinese and Japanese text measured and drawn with real glyphs, not empty
  # boxes, as Windows links its UI fonts to its CJK fonts. Lacking Tahoma,
  # Wine draws "MS Shell Dlg" (here the icon-title and message font too) with
  # DejaVu Sans: that face is the one to link, which keeps the Latin text's
  # widths as they were.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v 'DejaVu Sans' \
    /t REG_MULTI_SZ /d 'NotoSansCJK-Regular.ttc,Noto Sans CJK SC\0NotoSansCJK-Regular.ttc,Noto Sans CJK JP' \
    /f >/dev/null 2>&1
  # A program that crashes ends at once, its backtrace on stderr: Wine's
  # debugger otherwise shows its crash dialog on the virtual display and
  # waits there for a click, and the test for its time limit.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
fi
wineserver -w
