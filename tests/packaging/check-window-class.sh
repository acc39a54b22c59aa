#!/bin/sh
# Starts the program on the X server in $DISPLAY and checks that its window's
# class is the desktop entry's StartupWMClass, by which X11 desktops group the
# window under the entry's icon. Exits 77 (skipped) without xdotool or xprop.
# Usage: check-window-class.sh <kestrix> <desktop entry>
set -u
program=$1
entry=$2
for tool in xdotool xprop; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool is not installed" >&2; exit 77; }
done

work=$(mktemp -d)
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir "$work/tmp" "$work/config" "$work/app"
# A copy of its own: beside the build's kestrix-daemon, the program would
# start that daemon, which would outlive the test.
cp "$program" "$work/app/kestrix" || exit 1

# Private folders: no other instance, no settings, no daemon to reach.
TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config KESTRIX_PIPE=$work/no-daemon.sock \
    PROGRAMDATA=$work QT_QPA_PLATFORM=xcb "$work/app/kestrix" >/dev/null 2>&1 &
app=$!

expected=$(sed -n 's/^StartupWMClass=//p' "$entry")
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$app" 2>/dev/null | head -n1)
[ -n "$window" ] || { echo "FAIL: no window of the program appeared" >&2; exit 1; }
class=$(xprop -id "$window" WM_CLASS)
echo "$class"
case "$class" in
*", \"$expected\"") echo "PASS: window class is $expected" ;;
*) echo "FAIL: window class is not StartupWMClass=$expected" >&2; exit 1 ;;
esac
