#!/usr/bin/env bash
# Runs a command on an X display of its own: a fresh Xvfb (it picks a free
# display number), with the openbox window manager when --wm comes first.
# Both are stopped afterwards. Qt programs run on that display (xcb).
set -euo pipefail
wm=0
if [ "${1:-}" = "--wm" ]; then wm=1; shift; fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp 2>"$work/xvfb.log" &
pids+=($!)
exec 3>&-
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start:"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
if [ "$wm" = 1 ]; then
  openbox --sm-disable 2>"$work/openbox.log" &
  pids+=($!)
  for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.05
  done
fi
export QT_QPA_PLATFORM=xcb
"$@"
