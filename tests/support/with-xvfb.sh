#!/bin/sh
# Runs a command on a private Xvfb server with the xcb platform. Xvfb picks a
# free display itself (-displayfd), so parallel tests never race for one.
# With --tray, trayer runs on it as a real XEmbed system tray and the command
# sees KESTRIX_EXPECT_TRAY=1.
# Exits 77 (skipped) when a program it needs is missing.
# Usage: with-xvfb.sh [--screen WxHxD] [--tray] <command> [arguments...]
set -u
screen=1024x768x24
tray_wanted=""
while [ $# -gt 0 ]; do
    case "$1" in
    --screen) screen=$2; shift 2 ;;
    --tray) tray_wanted=1; shift ;;
    *) break ;;
    esac
done

skip() { echo "SKIP   : $1 is not installed (tools/install-deps installs it)" >&2; exit 77; }
command -v Xvfb >/dev/null 2>&1 || skip Xvfb
if [ -n "$tray_wanted" ]; then
    command -v trayer >/dev/null 2>&1 || skip trayer
    command -v xdotool >/dev/null 2>&1 || skip xdotool
fi

work=$(mktemp -d)
xvfb=""
tray=""
cleanup() {
    [ -n "$tray" ] && kill "$tray" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
i=0
# A loaded machine may take a while to start it.
while [ ! -s "$work/display" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

if [ -n "$tray_wanted" ]; then
    trayer --edge top --align right --widthtype pixel --width 200 --height 32 >/dev/null 2>&1 &
    tray=$!
    timeout 30 xdotool search --sync --classname trayer >/dev/null 2>&1 \
        || { echo "trayer did not start" >&2; exit 1; }
    KESTRIX_EXPECT_TRAY=1
    export KESTRIX_EXPECT_TRAY
fi

QT_QPA_PLATFORM=xcb "$@"
