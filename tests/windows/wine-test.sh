#!/bin/sh
# Runs the cross-built Windows test program under Wine, in one private prefix
# per test run.
#   wine-test.sh setup   <bin> <prefix>   a fresh prefix with the test service registered
#   wine-test.sh run     <bin> <prefix> [test program arguments...]
#   wine-test.sh cleanup <bin> <prefix>   ends every process of the prefix and removes it
# Exits 77 (skipped) when Wine or the MinGW-built programs are missing.
set -u
mode=$1 bin=$2 prefix=$3
shift 3

wine=${KESTRIX_WINE:-/usr/lib/wine/wine64}
wineserver=${KESTRIX_WINESERVER:-/usr/lib/wine/wineserver64}
if [ ! -x "$wine" ] || [ ! -x "$wineserver" ]; then
    echo "SKIPPED: Wine is not installed ($wine); tools/install-deps installs wine64"
    exit 77
fi
if [ ! -f "$bin/kestrix-windows-tests.exe" ]; then
    echo "SKIPPED: the MinGW-built test programs are missing (x86_64-w64-mingw32-g++-posix not found at configure time; tools/install-deps installs it)"
    exit 77
fi

export WINEPREFIX="$prefix" WINEDEBUG=-all
# No Mono or Gecko installer prompts, no windows on any display.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Ends every process of the prefix, the server last, and waits for it.
stop_prefix() {
    [ -d "$prefix" ] || return 0
    "$wineserver" -k 2>/dev/null
    "$wineserver" -w 2>/dev/null
    return 0
}

windows_path() {
    printf 'Z:%s' "$1" | sed 's|/|\\|g'
}

case $mode in
setup)
    stop_prefix
    rm -rf "$prefix"
    mkdir -p "$(dirname "$prefix")"
    # About 6 s for a new prefix.
    "$wine" wineboot --init >/dev/null 2>&1
    # The test service stands for the daemon's service.
    if ! "$wine" sc create kestrix binPath= "\"$(windows_path "$bin/kestrix-test-service.exe")\"" \
        start= demand; then
        echo "sc create failed"
        stop_prefix
        exit 1
    fi
    stop_prefix
    ;;
run)
    if [ ! -d "$prefix" ]; then
        echo "no Wine prefix at $prefix: run the windows_prefix test first"
        exit 1
    fi
    "$wine" "$bin/kestrix-windows-tests.exe" "$@"
    code=$?
    # Nothing of this test outlives it: stand-ins, the service, the server.
    stop_prefix
    exit $code
    ;;
cleanup)
    stop_prefix
    # Some 700 MB, made again by the next run's set-up.
    rm -rf "$prefix"
    ;;
*)
    echo "unknown mode $mode"
    exit 2
    ;;
esac
