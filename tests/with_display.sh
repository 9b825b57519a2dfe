#!/usr/bin/env bash
# Runs a command (the test run) with a real X server and a window manager for the widget tests,
# where focus, activation and modal dialogs behave as on a desktop. Where Xvfb or openbox is
# missing, or PARVULA_TEST_OFFSCREEN=1, the widget tests fall back to Qt's offscreen platform.
set -uo pipefail

if [ "${PARVULA_TEST_OFFSCREEN:-0}" = 1 ] || ! command -v Xvfb >/dev/null \
  || ! command -v openbox >/dev/null; then
  echo "widget tests: offscreen platform (no Xvfb/openbox, or PARVULA_TEST_OFFSCREEN=1)"
  exec "$@"
fi

work=$(mktemp -d)
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# -displayfd lets the server pick a free display number and tell us which.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "widget tests: Xvfb did not start, offscreen platform instead:"
  cat "$work/xvfb.log"
  xvfb=
  exec "$@"
fi
export DISPLAY=":$(head -n1 "$work/display")"
# A home of its own keeps openbox's files out of the user's.
HOME="$work" openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
# The window manager is up once it owns the screen's selection.
for _ in $(seq 100); do
  if command -v xprop >/dev/null && xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null \
    | grep -q 'window id'; then
    break
  fi
  sleep 0.1
done
echo "widget tests: X server $DISPLAY with openbox"
export PARVULA_TEST_X11=1
"$@"
