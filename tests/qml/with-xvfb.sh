#!/bin/sh
# Runs a command on a private Xvfb server with the xcb platform. Xvfb picks a
# free display itself (-displayfd), so parallel tests never race for one.
# Exits 77 (skipped) when Xvfb is missing.
# Usage: with-xvfb.sh <command> [arguments...]
set -u
command -v Xvfb >/dev/null 2>&1 || exit 77

work=$(mktemp -d)
xvfb=""
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
i=0
# A loaded machine may take a while to start it.
while [ ! -s "$work/display" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

QT_QPA_PLATFORM=xcb "$@"
