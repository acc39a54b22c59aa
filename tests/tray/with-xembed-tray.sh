#!/bin/sh
# Runs a test on X11 with a real XEmbed system tray: Xvfb on a free display and
# trayer on it. Exits 77 (skipped) when either program is missing.
# Usage: with-xembed-tray.sh <test binary> [arguments...]
set -u
command -v Xvfb >/dev/null 2>&1 && command -v trayer >/dev/null 2>&1 \
    && command -v xdotool >/dev/null 2>&1 || exit 77

work=$(mktemp -d)
xvfb=""
tray=""
cleanup() {
    [ -n "$tray" ] && kill "$tray" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
i=0
while [ ! -s "$work/display" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

trayer --edge top --align right --widthtype pixel --width 200 --height 32 >/dev/null 2>&1 &
tray=$!
timeout 30 xdotool search --sync --classname trayer >/dev/null 2>&1 \
    || { echo "trayer did not start" >&2; exit 1; }

QT_QPA_PLATFORM=xcb KESTRIX_EXPECT_TRAY=1 "$@"
